#pragma once

#include "TalverinCore/LanguageRecognizing.h"

namespace talverin {

// The dominant language by CLD2. CLD2 cannot be limited to a set of languages, and its plain
// detection answers English whenever it cannot decide, which is exactly the short Russian
// phrase the language guard is about. So it asks for a best-effort answer with Russian as the
// hint, and takes the top language; an unknown language is no answer.
class LanguageRecognizingCld2 final : public LanguageRecognizing {
public:
    std::optional<std::string> dominantLanguage(std::string_view text) const override;
};

} // namespace talverin
