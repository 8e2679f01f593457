#include "TalverinCore/WordCorrections.h"

#include "Runtime/Unicode.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TalverinCore/TextCharacters.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

namespace talverin {
namespace {

// Compiled once for the life of the process; a pattern may be shared by threads, each call
// makes its own matcher.
const icu::RegexPattern* wordPattern() {
    static const std::unique_ptr<icu::RegexPattern> pattern =
        TextCharacters::compile(WordCorrections::word);
    return pattern.get();
}

struct Range {
    int32_t start;
    int32_t end;
};

std::vector<Range> wordsOf(const icu::UnicodeString& text) {
    std::vector<Range> words;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(wordPattern()->matcher(text, status));
    if (U_FAILURE(status) || matcher == nullptr)
        return words;
    while (matcher->find(status) && U_SUCCESS(status))
        words.push_back({matcher->start(status), matcher->end(status)});
    return words;
}

bool hasLetter(const icu::UnicodeString& word) {
    for (int32_t i = 0; i < word.length();) {
        const UChar32 c = word.char32At(i);
        if ((U_GET_GC_MASK(c) & U_GC_L_MASK) != 0)
            return true;
        i += U16_LENGTH(c);
    }
    return false;
}

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

} // namespace

std::optional<Replacement> WordCorrections::replacement(std::string_view original,
                                                        std::string_view edited) {
    // A field may hand back decomposed text; compared in composed form, an unchanged "café"
    // is no correction.
    const std::string before8 = Unicode::nfc(original);
    const std::string after8 = Unicode::nfc(edited);
    if (before8 == after8 || wordPattern() == nullptr)
        return std::nullopt;
    const icu::UnicodeString before = icu::UnicodeString::fromUTF8(before8);
    const icu::UnicodeString after = icu::UnicodeString::fromUTF8(after8);

    // Only a change that keeps the number of words is learned.
    const std::vector<Range> beforeWords = wordsOf(before);
    const std::vector<Range> afterWords = wordsOf(after);
    if (beforeWords.size() != afterWords.size())
        return std::nullopt;

    for (std::size_t i = 0; i < beforeWords.size(); ++i) {
        const Range was = beforeWords[i];
        const Range now = afterWords[i];
        const icu::UnicodeString from = before.tempSubStringBetween(was.start, was.end);
        const icu::UnicodeString to = after.tempSubStringBetween(now.start, now.end);
        if (from == to)
            continue;
        const std::string from8 = utf8(from);
        const std::string to8 = utf8(to);
        if (Unicode::graphemeCount(from8) > maxWordLength ||
            Unicode::graphemeCount(to8) > maxWordLength)
            return std::nullopt;
        if (!hasLetter(from) || !hasLetter(to))
            return std::nullopt;
        // Nothing but this word may have changed: not a second word, the punctuation or the
        // spacing.
        icu::UnicodeString rebuilt = before;
        rebuilt.replaceBetween(was.start, was.end, to);
        if (rebuilt != after)
            return std::nullopt;
        return Replacement{from8, to8};
    }
    // Only punctuation or spacing changed.
    return std::nullopt;
}

} // namespace talverin
