#pragma once

#include "TalverinCore/DictationMode.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talverin {

// One cloud dictation: the encoded clip and what the server needs to polish it.
struct DictateRequest {
    std::vector<std::uint8_t> clip;     // the encoded clip, Ogg Opus or WAV
    std::vector<std::string> languages; // the user's language tags, in order
    DictationMode mode = DictationMode::clean;
    std::string appName;            // the focused application's name
    std::string before;             // the text before the caret
    std::string after;              // the text after the caret
    std::string selection;          // the selected text
    std::vector<std::string> words; // the user's word list

    bool operator==(const DictateRequest&) const = default;
};

} // namespace talverin
