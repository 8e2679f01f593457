#pragma once

#include "TalverinCore/LanguageRecognizing.h"
#include "fakes/CallLog.h"

#include <map>
#include <optional>
#include <string>

namespace talverin::test {

// A recogniser that answers from a script: the language set for exactly that text, else
// `fallback`. Every question is recorded with its text.
class LanguageRecognizingFake final : public LanguageRecognizing {
public:
    mutable CallLog log;
    std::map<std::string, std::optional<std::string>> answers;
    std::optional<std::string> fallback;

    std::optional<std::string> dominantLanguage(std::string_view text) const override {
        log.record("dominantLanguage", std::string(text));
        auto found = answers.find(std::string(text));
        return found == answers.end() ? fallback : found->second;
    }
};

} // namespace talverin::test
