#include "TalverinInput/linux/SettingsPanesLinux.h"

#include <vector>

#include <glib.h>

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

    gchar* path = g_find_program_in_path(program.c_str());
    if (!path)
        return false;
    std::vector<gchar*> argv{path};
    if (!panel.empty())
        argv.push_back(const_cast<gchar*>(panel.c_str()));
    argv.push_back(nullptr);
    GError* error = nullptr;
    const gboolean started = g_spawn_async(
        nullptr, argv.data(), nullptr,
        static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
        nullptr, nullptr, &error);
    if (error)
        g_error_free(error);
    g_free(path);
    return started;
}

} // namespace talverin::SettingsPanesLinux
