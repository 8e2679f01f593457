#include "TalverinInsert/KeyEvents.h"

namespace talverin {

std::vector<KeyEvents::KeyEvent> KeyEvents::paste(std::uint16_t keyCode) {
    return {
        {.keyCode = commandKey, .down = true, .modifiers = command},
        {.keyCode = keyCode, .down = true, .modifiers = command},
        {.keyCode = keyCode, .down = false, .modifiers = command},
        {.keyCode = commandKey, .down = false, .modifiers = 0},
    };
}

std::vector<KeyEvents::KeyEvent>
KeyEvents::typing(const std::vector<TypingFallback::Piece>& pieces) {
    std::vector<KeyEvent> events;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (const auto* text = std::get_if<std::u16string>(&pieces[i])) {
            events.push_back({.keyCode = carrierKey, .down = true, .text = *text});
            events.push_back({.keyCode = carrierKey, .down = false, .text = *text});
        } else {
            events.push_back({.keyCode = returnKey, .down = true, .modifiers = shift});
            events.push_back({.keyCode = returnKey, .down = false, .modifiers = shift});
        }
        if (i + 1 < pieces.size())
            events.back().pauseAfter = piecePause;
    }
    return events;
}

} // namespace talverin
