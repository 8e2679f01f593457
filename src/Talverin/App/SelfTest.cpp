#include "Talverin/App/SelfTest.h"

#include "TalverinAudio/Sounds.h"
#include "TalverinCore/HistoryStore.h"
#include "TalverinCore/PillState.h"
#include "TalverinCore/Replacements.h"
#include "TalverinCore/ThemeTokens.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillLang.h"
#include "TalverinPill/PillSnapshot.h"

#include "Runtime/Bundle.h"

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace talverin::SelfTest {

namespace {

constexpr const char* usageKeys[] = {"NSMicrophoneUsageDescription",
                                     "NSSpeechRecognitionUsageDescription"};

bool isFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// The file's bytes; none when it is not a readable regular file (the library throws on a
// folder).
std::optional<std::string> readText(const std::filesystem::path& file) {
    if (!isFile(file))
        return std::nullopt;
    try {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return std::nullopt;
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad())
            return std::nullopt;
        return text;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The desktop entry stands in for the localized names of the application: it counts only when
// it names the application in English and in Russian.
bool desktopEntryHolds(const std::filesystem::path& file) {
    const auto text = readText(file);
    if (!text)
        return false;
    bool english = false;
    bool russian = false;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        english = english || (line.rfind("Name=", 0) == 0 && line.size() > 5);
        russian = russian || (line.rfind("Name[ru]=", 0) == 0 && line.size() > 9);
    }
    return english && russian;
}

std::string quotedList(const std::vector<std::string>& items) {
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i ? ", \"" : "\"") + items[i] + "\"";
    return text + "]";
}

const char* word(bool value) { return value ? "true" : "false"; }

struct InfoFacts {
    std::string identifier;
    std::string version;
    bool menuBarApp = false;
    std::vector<std::string> missingUsage;
    bool icon = false;
};

InfoFacts readInfo(const Bundle& bundle) {
    InfoFacts facts;
    facts.identifier = bundle.string("CFBundleIdentifier").value_or("?");
    facts.version = bundle.string("CFBundleShortVersionString").value_or("?");
    facts.menuBarApp = bundle.boolean("LSUIElement").value_or(false);
    for (const char* key : usageKeys) {
        const auto text = bundle.string(key);
        if (!text || text->empty())
            facts.missingUsage.push_back(key);
    }
    facts.icon = bundle.string("CFBundleIconFile") == "AppIcon";
    return facts;
}

std::vector<std::string> missingFiles(const std::filesystem::path& root,
                                      const std::vector<std::string>& required,
                                      const std::string& desktopEntry) {
    std::vector<std::string> missing;
    for (const std::string& path : required) {
        const bool present = path == desktopEntry ? desktopEntryHolds(root / path)
                                                  : isFile(root / path);
        if (!present)
            missing.push_back(path);
    }
    // A page that is there but cannot be read is as good as missing; it is listed once.
    const std::string page = "web/index.html";
    const bool listed = std::find(missing.begin(), missing.end(), page) != missing.end();
    if (!listed && !readText(root / page))
        missing.push_back(page);
    return missing;
}

std::size_t snapshotSize() {
    const auto png = PillSnapshot::png(PillState::listening("Привет, мир – hello", 0.6F), 2,
                                       PillLang::ru, std::nullopt, 8);
    return png ? png->size() : 0;
}

} // namespace

std::vector<std::string> requiredFiles(const std::filesystem::path& root,
                                       const std::string& ownIdentifier) {
    std::vector<std::string> files = {"web/index.html", "ThirdPartyNotices.txt",
                                      ownIdentifier + ".desktop", "AppIcon.svg"};
    for (std::string_view font : ThemeTokens::Fonts::files)
        files.push_back("fonts/" + std::string(font));
    for (const std::string& sound : Sounds::bundledFiles())
        files.push_back(sound);
    for (std::string& asset : webAssets(root / "web/index.html"))
        files.push_back(std::move(asset));
    return files;
}

std::vector<std::string> webAssets(const std::filesystem::path& html) {
    static const std::regex reference(R"re((?:src|href)="\./([^"]+)")re");
    const auto text = readText(html);
    if (!text)
        return {};
    std::vector<std::string> assets;
    for (auto match = std::sregex_iterator(text->begin(), text->end(), reference);
         match != std::sregex_iterator(); ++match) {
        // "./app.js?v=2" and "./page.html#top" load the files app.js and page.html.
        std::string path = (*match)[1].str();
        path = path.substr(0, path.find_first_of("?#"));
        if (!path.empty())
            assets.push_back("web/" + path);
    }
    return assets;
}

bool checkHistory() {
    return checkHistoryIn<HistoryStore>(std::filesystem::temp_directory_path() /
                                        ("talverin-selftest-" + newUuid()));
}

std::int32_t run(const Bundle& bundle, const Probes& probes, std::ostream& out) {
    const std::filesystem::path root =
        bundle.folder().empty() ? std::filesystem::path("/") : bundle.folder();
    const auto required = requiredFiles(root, probes.ownIdentifier);
    const auto missing = missingFiles(root, required, probes.ownIdentifier + ".desktop");
    const InfoFacts info = readInfo(bundle);
    const bool backend = probes.backendConfigured && probes.backendConfigured(bundle);
    out << "selftest: Talverin " << info.version << ", " << info.identifier << ", menu-bar app "
        << word(info.menuBarApp) << ", backend "
        << (backend ? "configured" : "none (on this computer only)") << ", files "
        << required.size() << ", missing " << quotedList(missing) << ", usage strings missing "
        << quotedList(info.missingUsage) << ", app icon " << word(info.icon) << "\n";

    const int fontFiles = static_cast<int>(ThemeTokens::Fonts::files.size());
    const int registered = PillFonts::registerFonts(root);
    const bool fontsLoaded = PillFonts::isLoaded();
    const std::size_t snapshot = snapshotSize();
    out << "selftest: pill fonts " << registered << "/" << fontFiles << " loaded "
        << word(fontsLoaded) << ", pill snapshot " << snapshot << " bytes\n";

    const bool history = probes.history ? probes.history() : checkHistory();
    const bool replacements =
        Replacements::apply({Replacement{"btw", "by the way"}}, "Btw, ok") == "By the way, ok";
    const auto icon = probes.menuIconPNG ? probes.menuIconPNG() : std::nullopt;
    const bool menuIcon = icon && icon->size() > 100;
    out << "selftest: history " << word(history) << ", replacements " << word(replacements)
        << ", menu icon " << word(menuIcon) << "\n";
    out.flush();

    const bool holds = missing.empty() && info.missingUsage.empty() && info.icon &&
                       info.identifier == probes.ownIdentifier && snapshot > 1000 &&
                       info.menuBarApp && registered == fontFiles && fontsLoaded && history &&
                       replacements && menuIcon;
    return holds ? 0 : 1;
}

} // namespace talverin::SelfTest
