#pragma once

#include <cstdint>
#include <string>

namespace talverin {

// What typing a text came to. True only when all of it was typed.
struct TypingResult {
    enum class Kind {
        typed,  // every character went out
        noKey,  // a character has no key to type it with: nothing was typed
        failed, // the events could not be posted (the display is gone)
    };
    Kind kind = Kind::typed;

    explicit operator bool() const { return kind == Kind::typed; }
    bool operator==(const TypingResult&) const = default;
};

// Synthetic keyboard input into whatever application has the focus. Every event is announced
// to the program's own key tap before it goes out, so the tap can tell it from the user's.
class KeyPosting {
public:
    virtual ~KeyPosting() = default;

    // The inserter's queue. Posts the paste chord with the layout's "v" key; false when the
    // events could not be posted (the display is gone).
    virtual bool postPaste(std::uint16_t keyCode) = 0;
    // The inserter's queue. Types the text as TypingFallback pieces, all of it or, when some
    // character cannot be typed, none of it; `failed` as above.
    virtual TypingResult typeText(const std::string& text) = 0;
};

// Which key types "v" in the user's keyboard layout, for the paste chord.
class PasteKeyResolver {
public:
    virtual ~PasteKeyResolver() = default;

    // The inserter's queue; computed on every call. The default key (KeyEvents::vKey) when no
    // layout can be read.
    virtual std::uint16_t pasteKey() = 0;
};

} // namespace talverin
