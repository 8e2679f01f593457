#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace talverin {

// Finds the key that types "v" in a keyboard layout, for the paste chord.
namespace PasteKey {

// Modifier states a layout is asked under.
inline constexpr int commandState = 1;
inline constexpr int noModifierState = 0;

// What a backend can tell of the current layout.
struct Layout {
    std::optional<std::string> localizedName;
    // False when the layout's key map could not be read.
    bool hasKeyMap = false;
    // The text that key gives under that modifier state; nothing when it gives none.
    std::function<std::optional<std::u16string>(std::uint16_t keyCode, int modifierState)>
        translate;
};

// The default key when that key gives "v" with Command held, or when the layout switches to
// QWERTY under Command ("⌘" in its name); else the first key that gives "v", with Command and
// then without. The default key when nothing gives it.
std::uint16_t keyCode(const Layout& layout);

} // namespace PasteKey

} // namespace talverin
