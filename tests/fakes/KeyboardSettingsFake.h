#pragma once

#include "Talverin/App/KeyboardSettings.h"

#include <optional>
#include <string>

namespace talverin::test {

// Keyboard settings that count how often they were opened; with a reason set, nothing opens.
class KeyboardSettingsFake final : public KeyboardSettings {
public:
    std::optional<std::string> missing;
    int opened = 0;

    std::optional<std::string> unavailableReason() const override { return missing; }
    bool open() override {
        if (missing)
            return false;
        ++opened;
        return true;
    }
};

} // namespace talverin::test
