#include "Talverin/App/LoginItem.h"

#include "Runtime/Bundle.h"
#include "Runtime/Paths.h"
#include "Talverin/App/Log.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace talverin::LoginItem {

namespace fs = std::filesystem;

namespace {

// The program as an argument of a desktop entry's Exec key: quoted when it holds a character
// the key reserves, with the quoting's own escapes, then the string escape of the file format.
std::string execArgument(const std::string& program) {
    static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    if (program.find_first_of(reserved) == std::string::npos)
        return program;
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// The bundle's entry with every command that starts the program by its bare name made to start
// this very program: the session's PATH at login need not hold the install folder (a user
// prefix, for one).
std::string entryFor(const std::string& text, const fs::path& executable) {
    const std::string name = executable.filename().string();
    std::istringstream in(text);
    std::string out, line;
    while (std::getline(in, line)) {
        if (line.starts_with("Exec=")) {
            const std::string command = line.substr(5);
            const std::string first = command.substr(0, command.find(' '));
            if (first == name)
                line = "Exec=" + execArgument(executable.string()) + command.substr(first.size());
        }
        out += line + "\n";
    }
    return out;
}

} // namespace

Places current() {
    std::error_code error;
    return {Bundle::main().folder(), fs::read_symlink("/proc/self/exe", error),
            Paths::configHome() / "autostart", Bundle::main().identifier()};
}

bool isInstalled(const Places& places) {
    if (places.bundleFolder.empty() || places.executable.empty())
        return false;
    std::error_code error;
    const fs::path own = fs::weakly_canonical(
        places.executable.parent_path() / ".." / "share" / "talverin", error);
    if (error)
        return false;
    return fs::equivalent(own, places.bundleFolder, error) && !error;
}

void registerIfInstalled(const Places& places) {
    if (!isInstalled(places)) {
        tlLog("Login item: not registered (not installed)");
        return;
    }
    const std::string name = places.identifier + ".desktop";
    const fs::path entry = places.autostartFolder / name;
    std::error_code error;
    if (fs::exists(entry, error))
        return;
    fs::create_directories(places.autostartFolder, error);
    if (!error) {
        std::ifstream source(places.bundleFolder / name, std::ios::binary);
        std::ostringstream text;
        text << source.rdbuf();
        if (!source)
            error = std::make_error_code(std::errc::no_such_file_or_directory);
        if (!error) {
            std::ofstream out(entry, std::ios::binary | std::ios::trunc);
            out << entryFor(text.str(), places.executable);
            out.close();
            if (!out)
                error = std::make_error_code(std::errc::io_error);
        }
    }
    if (error) {
        tlLog("Login item: not registered (" + error.message() + ")");
        return;
    }
    tlLog("Login item: registered");
}

} // namespace talverin::LoginItem
