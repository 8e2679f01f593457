#pragma once

#include "TalverinCore/ThemeSetting.h"

#include <string>

namespace talverin::ThemeScript {

// The user script that tells a page its theme before its first paint: the setting in the
// global `__tlvTheme`, the effective theme ("light" or "dark") in the root's `dataset.theme`.
std::string source(ThemeSetting theme);

} // namespace talverin::ThemeScript
