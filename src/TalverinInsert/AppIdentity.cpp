#include "TalverinInsert/AppIdentity.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace talverin {

// The identifiers are those of the web-engine rules (Chromium browsers by prefix) and of the
// editors that are never asked for their accessibility tree; the names are those the programs'
// Linux packages, Flatpaks and windows use.
const std::array<KnownApp, 15> AppIdentity::knownApps{{
    {"com.google.Chrome",
     {"google-chrome", "google-chrome-stable", "com.google.Chrome"},
     {"google-chrome"}},
    {"com.google.Chrome.beta", {"google-chrome-beta"}, {"google-chrome-beta"}},
    {"com.google.Chrome.canary", {"google-chrome-unstable"}, {"google-chrome-unstable"}},
    {"org.chromium.Chromium",
     {"chromium", "chromium-browser", "org.chromium.Chromium"},
     {"chromium", "chromium-browser"}},
    {"com.microsoft.edgemac",
     {"microsoft-edge", "microsoft-edge-stable", "microsoft-edge-beta", "microsoft-edge-dev",
      "com.microsoft.Edge"},
     {"microsoft-edge", "microsoft-edge-beta", "microsoft-edge-dev"}},
    {"com.brave.Browser",
     {"brave-browser", "brave-browser-stable", "brave-browser-beta", "com.brave.Browser"},
     {"brave-browser", "brave-browser-beta"}},
    {"com.vivaldi.Vivaldi",
     {"vivaldi", "vivaldi-stable", "vivaldi-snapshot", "com.vivaldi.Vivaldi"},
     {"vivaldi", "vivaldi-stable", "vivaldi-snapshot"}},
    {"com.operasoftware.Opera", {"opera", "opera-beta", "com.opera.Opera"}, {"opera"}},
    {"ru.yandex.desktop.yandex-browser",
     {"yandex-browser", "yandex-browser-stable", "yandex-browser-beta"},
     {"yandex-browser", "yandex-browser-beta"}},
    {"com.microsoft.VSCode", {"code", "code-url-handler", "com.visualstudio.code"}, {"code"}},
    {"com.microsoft.VSCodeInsiders", {"code-insiders"}, {"code - insiders"}},
    {"com.vscodium", {"codium", "codium-url-handler", "com.vscodium.codium"}, {"vscodium"}},
    {"com.vscodium.VSCodiumInsiders", {"codium-insiders"}, {"vscodium - insiders"}},
    {"com.todesktop.230313mzl4w4u92", {"cursor", "co.anysphere.cursor"}, {"cursor"}},
    {"com.exafunction.windsurf", {"windsurf"}, {"windsurf"}},
}};

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& names, const std::string& name) {
    return !name.empty() && std::any_of(names.begin(), names.end(), [&](std::string_view entry) {
        return !entry.empty() && lowered(entry) == name;
    });
}

// The app whose list `pick` holds `name`; nothing for an absent or unknown name.
template <typename Pick>
std::optional<std::string> lookUp(const std::optional<std::string>& name, Pick pick) {
    if (!name)
        return std::nullopt;
    const std::string key = lowered(*name);
    for (const auto& app : AppIdentity::knownApps)
        if (listed(pick(app), key))
            return std::string(app.identifier);
    return std::nullopt;
}

} // namespace

std::optional<std::string> AppIdentity::identify(const AppClues& clues) {
    // A launcher may name the desktop file by its whole path.
    std::optional<std::string> desktopId = clues.desktopFileId;
    if (desktopId)
        desktopId = desktopId->substr(desktopId->rfind('/') + 1);
    if (desktopId && desktopId->ends_with(".desktop"))
        desktopId->resize(desktopId->size() - std::string_view(".desktop").size());
    if (auto found = lookUp(desktopId, [](const KnownApp& app) { return app.desktopFileIds; }))
        return found;
    for (const auto& name : {clues.className, clues.instanceName})
        if (auto found = lookUp(name, [](const KnownApp& app) { return app.windowClasses; }))
            return found;
    return std::nullopt;
}

bool AppIdentity::holdsElectronApp(const std::string& executableFolder) {
    std::error_code error;
    const std::filesystem::path folder(executableFolder);
    return std::filesystem::is_regular_file(folder / electronArchive, error) ||
           std::filesystem::is_directory(folder / electronFolder, error);
}

} // namespace talverin
