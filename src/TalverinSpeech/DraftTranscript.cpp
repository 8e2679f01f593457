#include "TalverinSpeech/DraftTranscript.h"

#include "TalverinSpeech/LiveText.h"

#include <cstddef>

namespace talverin {

namespace {

// The text without a leading run of words that repeats `frozen`. A recogniser that restarted
// an utterance may later report the whole segment again (its final result usually does), and
// the frozen words would then stand twice. Words are compared without case and punctuation,
// since a final carries both and the partials it replaces may not.
std::string withoutFrozenPrefix(const std::string& frozen, const std::string& text) {
    auto expected = LiveText::comparableWords(frozen);
    if (expected.empty())
        return text;
    auto words = LiveText::words(text);
    std::size_t matched = 0;
    std::size_t consumed = 0;
    while (consumed < words.size() && matched < expected.size()) {
        auto comparable = LiveText::comparableWords(words[consumed]);
        for (const auto& word : comparable) {
            if (matched >= expected.size() || word != expected[matched])
                return text;
            ++matched;
        }
        ++consumed;
    }
    if (matched < expected.size())
        return text;
    std::string rest;
    for (std::size_t i = consumed; i < words.size(); ++i) {
        if (!rest.empty())
            rest += ' ';
        rest += words[i];
    }
    return rest;
}

} // namespace

void DraftTranscript::update(int segment, std::string_view text, UtteranceRestarts restarts) {
    std::string cleaned = LiveText::cleaned(text);
    if (segment < 0 || cleaned.empty())
        return;
    if (parts.size() <= static_cast<std::size_t>(segment))
        parts.resize(static_cast<std::size_t>(segment) + 1);
    Part& part = parts[static_cast<std::size_t>(segment)];
    if (restarts == UtteranceRestarts::never) {
        part.current = std::move(cleaned);
        return;
    }
    if (LiveText::isUtteranceRestart(part.current, cleaned))
        part.frozen = LiveText::join(part.frozen, part.current);
    part.current = withoutFrozenPrefix(part.frozen, cleaned);
}

std::string DraftTranscript::text() const {
    std::string merged;
    for (const auto& part : parts)
        merged = LiveText::join(merged, LiveText::join(part.frozen, part.current));
    return merged;
}

} // namespace talverin
