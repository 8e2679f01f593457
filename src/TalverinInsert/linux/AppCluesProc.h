#pragma once

#include "TalverinInsert/AppIdentity.h"
#include "TalverinInsert/linux/FrontWindowX11.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talverin {

namespace AppCluesProc {

// Any thread. What names the process `pid`: the desktop file it was started from, as its
// launcher (GIO, or Flatpak with the application's id) left it in its environment, and the
// window class of `front` when that window is the process's own.
AppClues read(std::int32_t pid, const std::optional<FrontWindow>& front,
              const std::string& procRoot = "/proc");

} // namespace AppCluesProc

} // namespace talverin
