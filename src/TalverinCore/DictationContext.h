#pragma once

#include "TalverinCore/ElementToken.h"
#include "TalverinCore/ScreenGeometry.h"

#include <optional>
#include <string>

namespace talverin {

// The focused field when a dictation starts, as the context reader found it.
struct DictationContext {
    std::string appName;                      // the focused application's name
    std::optional<std::string> bundleID;      // its identifier
    std::string before;                       // the text before the caret
    std::string after;                        // the text after the caret
    std::string selection;                    // the selected text, empty when none
    bool isSecure = false;                    // a password field
    bool isEditable = false;                  // the field takes text
    std::optional<ElementToken> elementToken; // the focused element
    std::optional<Rect> windowFrame;          // the focused window, in screen coordinates

    // What the session uses when it has no context: nothing known, nothing editable.
    static DictationContext unknown() { return {}; }

    bool operator==(const DictationContext&) const = default;
};

} // namespace talverin
