#include "TalverinPill/PillMenu.h"

#include <algorithm>

namespace talverin {
namespace {

PillMenuItem actionItem(std::string_view title, PillMenuAction action, bool checked = false) {
    return {std::string(title), std::move(action), checked, {}, false};
}

} // namespace

std::vector<PillMenuItem> PillMenu::items(const PillCopy& copy,
                                          const PillMicrophoneMenu& microphones) {
    const auto& selected = microphones.selectedID;
    const bool selectsADevice =
        selected &&
        std::any_of(microphones.devices.begin(), microphones.devices.end(),
                    [&](const Wire::Microphone& device) { return device.id == *selected; });

    std::vector<PillMenuItem> submenu;
    submenu.push_back(actionItem(copy.menuAutomatic(), PillMenuAction::microphone(std::nullopt),
                                 !selectsADevice));
    for (const Wire::Microphone& device : microphones.devices)
        submenu.push_back(actionItem(device.name, PillMenuAction::microphone(device.id),
                                     selected && *selected == device.id));

    return {
        {std::string(copy.menuMicrophone()), std::nullopt, false, std::move(submenu), false},
        actionItem(copy.menuHideForAnHour(), PillMenuAction::hideForAnHour()),
        actionItem(copy.menuResetSpot(), PillMenuAction::resetSpot()),
        PillMenuItem::separator(),
        actionItem(copy.menuSettings(), PillMenuAction::openSettings()),
    };
}

} // namespace talverin
