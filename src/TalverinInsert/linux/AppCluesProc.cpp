#include "TalverinInsert/linux/AppCluesProc.h"

#include <fstream>
#include <iterator>
#include <string_view>

namespace talverin {

namespace {

// The value of `name` in an environment block of NUL-terminated "NAME=value" entries.
std::optional<std::string> variable(const std::string& block, std::string_view name) {
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find('\0', start);
        if (end == std::string::npos)
            end = block.size();
        const std::string_view entry(block.data() + start, end - start);
        if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
            return std::string(entry.substr(name.size() + 1));
        start = end + 1;
    }
    return std::nullopt;
}

} // namespace

AppClues AppCluesProc::read(std::int32_t pid, const std::optional<FrontWindow>& front,
                            const std::string& procRoot) {
    AppClues clues;
    // Another user's process keeps its environment to itself; it is then known by its window.
    std::ifstream in(procRoot + "/" + std::to_string(pid) + "/environ", std::ios::binary);
    if (in) {
        const std::string block((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        // The launcher's variables are inherited by whatever the program starts in turn (a
        // terminal's shells): they name this process only when it is the one launched.
        if (variable(block, "GIO_LAUNCHED_DESKTOP_FILE_PID") == std::to_string(pid))
            clues.desktopFileId = variable(block, "GIO_LAUNCHED_DESKTOP_FILE");
        if (!clues.desktopFileId)
            clues.desktopFileId = variable(block, "FLATPAK_ID");
    }
    if (front && front->pid == pid) {
        clues.instanceName = front->instanceName;
        clues.className = front->className;
    }
    return clues;
}

} // namespace talverin
