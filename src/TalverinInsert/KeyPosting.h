#pragma once

#include <cstdint>
#include <string>

namespace talverin {

// Synthetic keyboard input into whatever application has the focus. Every event carries the
// marker of KeyEvents, so our own key tap can tell it from the user's.
class KeyPosting {
public:
    virtual ~KeyPosting() = default;

    // The inserter's queue. Posts the paste chord with the layout's "v" key; false when the
    // events could not be posted (the display is gone).
    virtual bool postPaste(std::uint16_t keyCode) = 0;
    // The inserter's queue. Types the text as TypingFallback pieces; false as above.
    virtual bool typeText(const std::string& text) = 0;
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
