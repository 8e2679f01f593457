#include "TalverinInput/linux/SettingsPanesLinux.h"

#include "TalverinInput/linux/GioHandles.h"

#include <vector>

namespace talverin::SettingsPanesLinux {

bool open(const std::string& address) {
    const auto colon = address.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const std::string program = address.substr(0, colon);
    const auto question = address.find('?', colon);
    const bool hasAnchor = question != std::string::npos;
    const std::string panel =
        address.substr(colon + 1, hasAnchor ? question - colon - 1 : std::string::npos);
    // An address with an anchor asks for a panel; an empty one means the desktop has none.
    if (hasAnchor && panel.empty())
        return false;

    const GCharPtr path(g_find_program_in_path(program.c_str()));
    if (!path)
        return false;
    std::vector<gchar*> argv{path.get()};
    if (!panel.empty())
        argv.push_back(const_cast<gchar*>(panel.c_str()));
    argv.push_back(nullptr);
    GErrorPtr error;
    return g_spawn_async(
        nullptr, argv.data(), nullptr,
        static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
        nullptr, nullptr, ErrorOut(error));
}

} // namespace talverin::SettingsPanesLinux
