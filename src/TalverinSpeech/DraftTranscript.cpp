#include "TalverinSpeech/DraftTranscript.h"

#include "TalverinSpeech/LiveText.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

namespace talverin {

namespace {

// The text without a leading run of words that repeats `frozen`. A recogniser that restarted
// an utterance may later report the whole segment again (its final result usually does), and
// the frozen words would then stand twice. Words are compared without case and punctuation,
// since a final carries both and the partials it replaces may not.
std::optional<std::string> withoutFrozenPrefix(const std::string& frozen, const std::string& text) {
    auto expected = LiveText::comparableWords(frozen);
    if (expected.empty())
        return std::nullopt;
    auto words = LiveText::words(text);
    std::size_t matched = 0;
    std::size_t consumed = 0;
    while (consumed < words.size() && matched < expected.size()) {
        auto comparable = LiveText::comparableWords(words[consumed]);
        for (const auto& word : comparable) {
            if (matched >= expected.size() || word != expected[matched])
                return std::nullopt;
            ++matched;
        }
        ++consumed;
    }
    if (matched < expected.size())
        return std::nullopt;
    std::string rest;
    for (std::size_t i = consumed; i < words.size(); ++i) {
        if (!rest.empty())
            rest += ' ';
        rest += words[i];
    }
    return rest;
}

// A report that repeats frozen utterances with changes: a final that revises a word of them, or
// one that repeats only the latest of them. It repeats the utterances from a start on when it is
// at least as long as they are and, near its beginning, holds most of their words in order.
// A new utterance that merely shares a few words with the last one holds too few of them.
constexpr double repeatedShare = 0.6;
// How far past the repeated words' own count a revision may have pushed the last of them.
constexpr double revisionSlack = 0.5;

// A word as compared: lower-cased, without punctuation; empty for a word of punctuation only.
std::string keyOf(const std::string& word) {
    std::string key;
    for (const auto& part : LiveText::comparableWords(word))
        key += part;
    return key;
}

// The length of the longest common subsequence of two lists of keys; empty keys match nothing.
std::size_t commonInOrder(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::size_t> row(b.size() + 1, 0);
    for (const auto& wordA : a) {
        std::size_t diagonal = 0;
        for (std::size_t j = 0; j < b.size(); ++j) {
            const std::size_t above = row[j + 1];
            row[j + 1] =
                !wordA.empty() && wordA == b[j] ? diagonal + 1 : std::max(row[j + 1], row[j]);
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The earliest utterance start from which `text` repeats the frozen words, if any.
std::optional<std::size_t> repeatedFrom(const DraftTranscript::Part& part,
                                        const std::string& text) {
    std::vector<std::string> frozen;
    for (const auto& word : LiveText::words(part.frozen))
        frozen.push_back(keyOf(word));
    std::vector<std::string> reported;
    for (const auto& word : LiveText::words(text))
        reported.push_back(keyOf(word));
    for (const std::size_t start : part.utteranceStarts) {
        if (start >= frozen.size())
            continue;
        const std::vector<std::string> repeated(frozen.begin() + static_cast<long>(start),
                                                frozen.end());
        if (reported.size() < repeated.size())
            continue;
        const auto reach = std::min(
            reported.size(),
            repeated.size() + static_cast<std::size_t>(std::ceil(revisionSlack * repeated.size())));
        const std::vector<std::string> head(reported.begin(),
                                            reported.begin() + static_cast<long>(reach));
        if (commonInOrder(repeated, head) >=
            static_cast<std::size_t>(std::ceil(repeatedShare * repeated.size())))
            return start;
    }
    return std::nullopt;
}

// The frozen words before the word `end`.
std::string frozenBefore(const std::string& frozen, std::size_t end) {
    std::string kept;
    const auto words = LiveText::words(frozen);
    for (std::size_t i = 0; i < end && i < words.size(); ++i)
        kept = kept.empty() ? words[i] : kept + ' ' + words[i];
    return kept;
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
    if (LiveText::isUtteranceRestart(part.current, cleaned)) {
        const std::size_t start = LiveText::words(part.frozen).size();
        std::string joined = LiveText::join(part.frozen, part.current);
        // Text without spaces may join into one word: such a start is no word boundary.
        if (LiveText::words(joined).size() == start + LiveText::words(part.current).size())
            part.utteranceStarts.push_back(start);
        part.frozen = std::move(joined);
    }
    if (auto rest = withoutFrozenPrefix(part.frozen, cleaned)) {
        part.current = std::move(*rest);
        return;
    }
    // The report's own words stand for the utterances it repeats.
    if (auto start = repeatedFrom(part, cleaned)) {
        part.frozen = frozenBefore(part.frozen, *start);
        std::erase_if(part.utteranceStarts, [&](std::size_t s) { return s >= *start; });
    }
    part.current = std::move(cleaned);
}

std::string DraftTranscript::text() const {
    std::string merged;
    for (const auto& part : parts)
        merged = LiveText::join(merged, LiveText::join(part.frozen, part.current));
    return merged;
}

} // namespace talverin
