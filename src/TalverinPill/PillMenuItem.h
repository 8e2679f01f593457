#pragma once

#include "TalverinCore/PillMenuAction.h"

#include <optional>
#include <string>
#include <vector>

namespace talverin {

// One entry of the pill's context menu as plain values; the window driver turns a list of
// them into a native menu.
struct PillMenuItem {
    std::string title;
    std::optional<PillMenuAction> action;
    bool checked = false;
    std::vector<PillMenuItem> children; // a submenu when not empty
    bool isSeparator = false;

    // The one separator line: no title, no action.
    static PillMenuItem separator() { return {"", std::nullopt, false, {}, true}; }

    bool operator==(const PillMenuItem&) const = default;
};

} // namespace talverin
