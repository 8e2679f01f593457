#include "Talverin/App/LoginItem.h"

#include "Runtime/Bundle.h"
#include "Runtime/Paths.h"
#include "Talverin/App/Log.h"

#include <system_error>

namespace talverin::LoginItem {

namespace fs = std::filesystem;

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
    if (!error)
        fs::copy_file(places.bundleFolder / name, entry, fs::copy_options::overwrite_existing,
                      error);
    if (error) {
        tlLog("Login item: not registered (" + error.message() + ")");
        return;
    }
    tlLog("Login item: registered");
}

} // namespace talverin::LoginItem
