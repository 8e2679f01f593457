#include "Talverin/App/ProcessEntry.h"

#include "TalverinPill/PillLang.h"
#include "TalverinPill/PillSnapshot.h"

#include "Runtime/Bundle.h"
#include "Runtime/PrivateFile.h"

#include <algorithm>
#include <fstream>

namespace talverin::ProcessEntry {

namespace {

bool isOption(const std::string& argument) { return argument.rfind("--", 0) == 0; }

// The value after the first `option`, when one follows that is not itself an option.
std::optional<std::string> valueAfter(const std::vector<std::string>& arguments,
                                      const std::string& option) {
    const auto found = std::find(arguments.begin(), arguments.end(), option);
    if (found == arguments.end() || found + 1 == arguments.end() || isOption(found[1]))
        return std::nullopt;
    return found[1];
}

std::string describe(const PillSnapshot::SnapshotError& failure) {
    if (failure.kind == PillSnapshot::SnapshotError::Kind::renderFailed)
        return "could not render " + failure.stem;
    return failure.stem + ": " + PrivateFile::describe(failure.error);
}

std::int32_t writePillStates(const std::filesystem::path& folder, std::ostream& out) {
    std::vector<PillLang> langs;
    for (const auto& entry : EnumTable<PillLang>::entries)
        langs.push_back(entry.first);
    const auto exported = PillSnapshot::writeAll(folder, 2, langs);
    if (exported.failure) {
        out << "pill states: failed (" << describe(*exported.failure) << ")\n";
        return 1;
    }
    out << "pill states: " << exported.written.size() << " files in " << folder.string() << "\n";
    return 0;
}

std::int32_t writeMenuIcon(const std::filesystem::path& file, const std::string& given,
                           const SelfTest::Probes& probes, std::ostream& out) {
    const auto png = probes.menuIconPNG ? probes.menuIconPNG() : std::nullopt;
    bool written = false;
    if (png) {
        std::ofstream stream(file, std::ios::binary | std::ios::trunc);
        stream.write(png->data(), static_cast<std::streamsize>(png->size()));
        stream.close();
        written = static_cast<bool>(stream);
    }
    if (!written) {
        out << "menu icon: failed\n";
        return 1;
    }
    out << "menu icon: " << given << "\n";
    return 0;
}

} // namespace

Choice choose(const std::vector<std::string>& arguments,
              const std::filesystem::path& currentFolder) {
    const auto has = [&](const char* option) {
        return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
    };
    if (has("--selftest"))
        return {Mode::selfTest, {}, {}};
    if (has("--pill-states")) {
        const std::string folder = valueAfter(arguments, "--pill-states").value_or("pill-states");
        return {Mode::pillStates, currentFolder / folder, folder};
    }
    if (const auto path = valueAfter(arguments, "--menu-icon"))
        return {Mode::menuIcon, currentFolder / *path, *path};
    return {Mode::normal, {}, {}};
}

std::int32_t run(const Choice& choice, const Bundle& bundle, const SelfTest::Probes& probes,
                 std::ostream& out) {
    switch (choice.mode) {
    case Mode::selfTest:
        return SelfTest::run(bundle, probes, out);
    case Mode::pillStates:
        return writePillStates(choice.path, out);
    case Mode::menuIcon:
        return writeMenuIcon(choice.path, choice.given, probes, out);
    case Mode::normal:
        break;
    }
    return 1;
}

} // namespace talverin::ProcessEntry
