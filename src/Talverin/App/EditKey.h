#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talverin {

// The edit commands a page understands, reached by the usual shortcuts.
enum class EditAction { undo, redo, cut, copy, paste, selectAll };

// Maps a key press inside the application's own windows to an edit command, so that the
// shortcuts work in the pages whatever the keyboard layout: with a Russian layout Control and
// the key of "с" still copies.
class EditKey {
public:
    EditKey() = delete;

    // The modifiers held with the key, as bits. Control is the shortcut modifier; Alt and Super
    // make any key an ordinary key press.
    enum Modifier : std::uint32_t { shift = 1u << 0, control = 1u << 1, alt = 1u << 2, super = 1u << 3 };

    struct Answer {
        // The command to run and swallow the key for; absent for quit and for pass-through.
        std::optional<EditAction> action;
        // The key goes on to the page as it is.
        bool passThrough = false;

        bool quits() const { return !action && !passThrough; }
        bool operator==(const Answer&) const = default;
    };

    // `chars`: what the key types without modifiers, in the active layout (absent when it
    // types nothing); `keyCode`: the X11 keycode, the same for one physical key in every
    // layout group; `modifiers`: Modifier bits.
    static Answer of(const std::optional<std::string>& chars, int keyCode, std::uint32_t modifiers);
};

} // namespace talverin
