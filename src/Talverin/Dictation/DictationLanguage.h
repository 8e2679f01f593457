#pragma once

#include "TalverinCore/LanguageRecognizing.h"
#include "TalverinCore/DictateResult.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talverin {

// Catches a cloud answer that came back in English although the user spoke Russian: the
// answer looks English while the service's raw transcript, or the on-device draft, is Russian
// and shares with it words that translate each other. It then names where the Russian words
// are: the answer's raw transcript or the draft.
class DictationLanguage {
public:
    DictationLanguage() = delete;

    // Where to take the Russian text from.
    struct Recovery {
        enum class Kind {
            raw,   // the answer's raw transcript
            local, // the on-device draft, in `text`
        };
        Kind kind = Kind::raw;
        std::string text; // the draft's text for local; empty for raw

        static Recovery fromRaw() { return {Kind::raw, {}}; }
        static Recovery fromLocal(std::string text) { return {Kind::local, std::move(text)}; }

        bool operator==(const Recovery&) const = default;
    };

    // Main thread. The verdict on one cloud answer, with the live draft's confident final text
    // when there is one; none when the answer stands. The recogniser is asked at most twice.
    static std::optional<Recovery> recovery(const DictateResult& answer,
                                            const std::optional<std::string>& local,
                                            const LanguageRecognizing& recognizer);

private:
    // The text in lower case, split at every character that is not a letter, without empty
    // pieces: "Let's go, Ёж!" gives let, s, go, ёж.
    static std::vector<std::string> tokens(std::string_view text);
    // Some cue pair has one of its Russian words among the text's tokens and one of its
    // English words among the given tokens.
    static bool corresponds(std::string_view russian, const std::vector<std::string>& english);
    // A text of at least two words in Russian letters alone that the recogniser calls Russian.
    static bool russianPhrase(std::string_view text, const LanguageRecognizing& recognizer);

    static bool hasRussianLetter(std::string_view text);
    static bool hasAsciiLetter(std::string_view text);
    static bool isDominant(std::string_view text, std::string_view language,
                           const LanguageRecognizing& recognizer);
};

} // namespace talverin
