#pragma once

#include "TalverinCore/PillMicrophoneMenu.h"
#include "TalverinPill/PillCopy.h"
#include "TalverinPill/PillMenuItem.h"

#include <vector>

namespace talverin {

// The pill's context menu.
class PillMenu {
public:
    PillMenu() = delete;

    // Any thread. The microphone submenu (Automatic, then every device), hide for an hour,
    // back to the default spot, a separator and the settings. Exactly one microphone entry is
    // checked: the selected device, or Automatic when the selection names none of them.
    static std::vector<PillMenuItem> items(const PillCopy& copy,
                                           const PillMicrophoneMenu& microphones);
};

} // namespace talverin
