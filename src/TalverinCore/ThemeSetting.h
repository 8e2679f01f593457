#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// The theme of the settings pages.
enum class ThemeSetting {
    automatic, // raw value "auto"; `auto` itself is a keyword here
    light,
    dark,
};

template <> struct EnumTable<ThemeSetting> {
    static constexpr auto entries = std::to_array<EnumEntry<ThemeSetting>>({
        {ThemeSetting::automatic, "auto"},
        {ThemeSetting::light, "light"},
        {ThemeSetting::dark, "dark"},
    });
};

} // namespace talverin
