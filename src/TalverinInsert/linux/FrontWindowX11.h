#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct _XDisplay;

namespace talverin {

// The window in front as the X server and the window manager tell it, with what names its
// owner: the process (_NET_WM_PID) and the class (WM_CLASS).
struct FrontWindow {
    unsigned long window = 0;
    std::int32_t pid = 0;
    // WM_CLASS: the instance name and the class name.
    std::optional<std::string> instanceName;
    std::optional<std::string> className;
};

namespace FrontWindowX11 {

// Calling thread, which owns `display`. The window manager's active window (_NET_ACTIVE_WINDOW),
// or, with no window manager, the window that holds the input focus; walked up to the window
// that names its process. Nothing when no window is in front or none names a process.
std::optional<FrontWindow> read(_XDisplay* display);

} // namespace FrontWindowX11

} // namespace talverin
