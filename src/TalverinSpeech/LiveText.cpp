#include "TalverinSpeech/LiveText.h"

#include "Runtime/Unicode.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace talverin {

namespace {

// The scalar at text[i], moving i past it; an ill-formed sequence reads as U+FFFD.
char32_t nextScalar(std::string_view text, std::size_t& i) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    auto at = static_cast<int32_t>(i);
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    i = static_cast<std::size_t>(at);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

char32_t firstScalar(std::string_view text) {
    std::size_t i = 0;
    return nextScalar(text, i);
}

char32_t lastScalar(std::string_view text) {
    std::size_t start = text.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 &&
           text.size() - start < 4)
        --start;
    std::size_t i = start;
    char32_t c = nextScalar(text, i);
    // A stray continuation byte at the end: the last byte alone is what is ill-formed.
    return i == text.size() ? c : U'\uFFFD';
}

// Punctuation (P*) and symbols (S*): what recognisers add or drop between a partial and a final.
bool isPunctuationOrSymbol(char32_t c) {
    constexpr uint32_t mask = U_GC_P_MASK | U_GC_S_MASK;
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & mask) != 0;
}

// The grapheme boundaries of a text, as byte offsets from 0 to its size.
std::vector<std::size_t> graphemeBoundaries(const std::string& text) {
    std::vector<std::size_t> bounds{0};
    icu::BreakIterator* it = Unicode::characterBreakIterator();
    if (it == nullptr) {
        for (std::size_t i = 0; i < text.size();) {
            nextScalar(text, i);
            bounds.push_back(i);
        }
        return bounds;
    }
    // Offsets come back in UTF-16 units; walk the UTF-8 text alongside to map them.
    icu::UnicodeString wide = icu::UnicodeString::fromUTF8(text);
    it->setText(wide);
    std::size_t byte = 0;
    int32_t unit = 0;
    for (int32_t next = it->next(); next != icu::BreakIterator::DONE; next = it->next()) {
        while (unit < next && byte < text.size()) {
            char32_t c = nextScalar(text, byte);
            unit += c > 0xFFFF ? 2 : 1;
        }
        bounds.push_back(byte);
    }
    it->setText(icu::UnicodeString());
    if (bounds.back() != text.size())
        bounds.push_back(text.size());
    return bounds;
}

bool isWhitespaceCharacter(std::string_view character) {
    return !character.empty() && Unicode::isWhitespaceOrNewline(firstScalar(character));
}

} // namespace

namespace LiveText {

std::vector<std::string> words(std::string_view text) {
    std::string valid = Unicode::validUtf8(text);
    std::vector<std::string> found;
    std::size_t start = 0;
    for (std::size_t i = 0; i < valid.size();) {
        std::size_t at = i;
        if (Unicode::isWhitespaceOrNewline(nextScalar(valid, i))) {
            if (at > start)
                found.push_back(valid.substr(start, at - start));
            start = i;
        }
    }
    if (valid.size() > start)
        found.push_back(valid.substr(start));
    return found;
}

std::string cleaned(std::string_view text) {
    std::string out;
    for (const auto& word : words(text)) {
        if (!out.empty())
            out += ' ';
        out += word;
    }
    return out;
}

std::string join(std::string_view a, std::string_view b) {
    std::string left = Unicode::trimWhitespaceAndNewlines(a);
    std::string right = Unicode::trimWhitespaceAndNewlines(b);
    if (left.empty())
        return right;
    if (right.empty())
        return left;
    if (isSpacelessScript(lastScalar(left)) && isSpacelessScript(firstScalar(right)))
        return left + right;
    return left + " " + right;
}

bool isSpacelessScript(char32_t c) {
    struct Range {
        char32_t first, last;
    };
    static constexpr Range ranges[] = {
        {0x0E00, 0x0EFF},   // Thai, Lao
        {0x1000, 0x109F},   // Myanmar
        {0x1780, 0x17FF},   // Khmer
        {0x3000, 0x303F},   // CJK symbols and punctuation
        {0x3040, 0x30FF},   // Hiragana, Katakana
        {0x31F0, 0x31FF},   // Katakana phonetic extensions
        {0x3400, 0x4DBF},   // CJK unified ideographs extension A
        {0x4E00, 0x9FFF},   // CJK unified ideographs
        {0xF900, 0xFAFF},   // CJK compatibility ideographs
        {0xFF01, 0xFF60},   // full-width forms
        {0xFF61, 0xFF9F},   // half-width katakana and punctuation
        {0x20000, 0x3FFFF}, // supplementary ideographic planes
    };
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [c](const Range& r) { return c >= r.first && c <= r.last; });
}

std::vector<std::string> comparableWords(std::string_view text) {
    std::vector<std::string> found;
    for (const auto& word : words(Unicode::lower(text))) {
        std::string kept;
        for (std::size_t i = 0; i < word.size();) {
            std::size_t at = i;
            if (!isPunctuationOrSymbol(nextScalar(word, i)))
                kept.append(word, at, i - at);
        }
        if (!kept.empty())
            found.push_back(std::move(kept));
    }
    return found;
}

bool isUtteranceRestart(std::string_view previous, std::string_view next) {
    auto p = comparableWords(previous);
    auto n = comparableWords(next);
    if (p.size() < 2 || n.empty() || p.size() < 2 * n.size())
        return false;
    return p.front() != n.front() || p.size() > 3;
}

std::string tail(std::string_view text, int maxWords, int maxCharacters) {
    auto all = words(text);
    if (all.empty())
        return "";
    const auto keep = static_cast<std::size_t>(std::max(maxWords, 1));
    const bool cut = all.size() > keep;
    std::string kept;
    for (std::size_t i = cut ? all.size() - keep : 0; i < all.size(); ++i) {
        if (!kept.empty())
            kept += ' ';
        kept += all[i];
    }
    const auto limit = static_cast<std::size_t>(std::max(maxCharacters, 1));
    auto bounds = graphemeBoundaries(kept);
    const std::size_t count = bounds.size() - 1;
    if (count <= limit)
        return cut ? std::string(ellipsis) + kept : kept;

    const std::size_t first = count - limit;
    std::string_view before(kept.data() + bounds[first - 1], bounds[first] - bounds[first - 1]);
    if (!isWhitespaceCharacter(before)) {
        // The cut falls inside a word: that partial word goes, when a whole word follows it.
        for (std::size_t g = first; g + 1 < count; ++g) {
            std::string_view character(kept.data() + bounds[g], bounds[g + 1] - bounds[g]);
            if (isWhitespaceCharacter(character))
                return std::string(ellipsis) + kept.substr(bounds[g + 1]);
        }
    }
    return std::string(ellipsis) +
           Unicode::trimWhitespaceAndNewlines(std::string_view(kept).substr(bounds[first]));
}

} // namespace LiveText

} // namespace talverin
