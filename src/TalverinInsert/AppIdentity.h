#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// What the desktop tells about a running program, from which the identifier that the
// web-engine rules and the editors' skip list know it by is found.
struct AppClues {
    // The desktop file the program was started from ("google-chrome.desktop"), when known.
    std::optional<std::string> desktopFileId;
    // Its window's WM_CLASS: the instance name and the class name.
    std::optional<std::string> instanceName;
    std::optional<std::string> className;
};

// One program as this desktop names it, and the identifier it has in the rules.
struct KnownApp {
    std::string_view identifier;
    // Desktop file ids without ".desktop", and WM_CLASS names, compared without case.
    std::array<std::string_view, 6> desktopFileIds;
    std::array<std::string_view, 4> windowClasses;
};

namespace AppIdentity {

extern const std::array<KnownApp, 15> knownApps;

// Where an Electron application keeps its code, beside its executable: an archive or a folder.
inline constexpr std::string_view electronArchive = "resources/app.asar";
inline constexpr std::string_view electronFolder = "resources/app";

// The identifier of a known program: its desktop file id decides first, then its window class,
// then its window's instance name. Nothing for a program the table does not know.
std::optional<std::string> identify(const AppClues& clues);

// Whether the folder of an executable holds an Electron application's code.
bool holdsElectronApp(const std::string& executableFolder);

} // namespace AppIdentity

} // namespace talverin
