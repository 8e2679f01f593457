#pragma once

#include <filesystem>
#include <string>

namespace talverin {

// Starting the application at login, the XDG way: the bundle's desktop entry, its command
// naming the running program by its absolute path, in the user's autostart folder. Only an installed application registers: a binary run from a build
// tree would leave an entry behind that points at a build. "Enabled" means the entry exists.
namespace LoginItem {
struct Places {
    std::filesystem::path bundleFolder; // the bundle the running program uses
    std::filesystem::path executable;   // the running program
    std::filesystem::path autostartFolder;
    std::string identifier; // names the desktop entry: <identifier>.desktop
};
// The places of this process: the main bundle, /proc/self/exe and $XDG_CONFIG_HOME/autostart.
Places current();
// Installed means the bundle is the program's own ../share/talverin.
bool isInstalled(const Places& places);
// Logs "Login item: registered", "Login item: not registered (<why>)" or nothing when the
// entry is already there.
void registerIfInstalled(const Places& places);
} // namespace LoginItem

} // namespace talverin
