#pragma once

#include <string>

namespace talverin {

// Opens a settings address ("program:panel?anchor", see Permissions) by starting the desktop's
// settings program on the panel, without waiting for it.
namespace SettingsPanesLinux {

// Main thread. False when the address names no panel, the program is not installed or could
// not be started. The fallback address names the program alone and opens its main view.
bool open(const std::string& address);

} // namespace SettingsPanesLinux

} // namespace talverin
