#include "TalverinCore/TextJoin.h"

#include "Runtime/Unicode.h"
#include "TalverinCore/TextCharacters.h"

#include <algorithm>
#include <array>

namespace talverin {
namespace {

// After these no space is put: they open something the next word belongs to.
constexpr std::array<char16_t, 15> openingSet = {
    u'(',  u'[', u'{', u'\u00AB', u'\u201E', u'\u201C', u'\u2018', u'"',
    u'\'', u'/', u'-', u'\u2013', u'\u2014', u'@',      u'#',
};

// Before these no space is put: they close or punctuate the word before them.
constexpr std::array<char16_t, 14> closingSet = {
    u'.', u',', u';', u':',      u'!',      u'?',      u'\u2026',
    u')', u']', u'}', u'\u00BB', u'\u201D', u'\u2019', u'%',
};

// Compared as whole characters: a quotation mark with a combining mark on it is another
// character.
template <std::size_t N>
bool isIn(const std::array<char16_t, N>& set, std::u16string_view character) {
    return character.size() == 1 && std::find(set.begin(), set.end(), character[0]) != set.end();
}

bool isWhitespace(std::u16string_view character) {
    return Unicode::isWhitespaceOrNewline(TextCharacters::firstScalar(character));
}

} // namespace

bool TextJoin::isCJK(std::u16string_view character) {
    const char32_t c = TextCharacters::firstScalar(character);
    return (c >= 0x3000 && c <= 0x303F) || // CJK symbols and punctuation
           (c >= 0x3040 && c <= 0x30FF) || // kana
           (c >= 0x3400 && c <= 0x4DBF) || // ideographs, extension A
           (c >= 0x4E00 && c <= 0x9FFF) || // ideographs
           (c >= 0xAC00 && c <= 0xD7AF) || // Hangul syllables
           (c >= 0xF900 && c <= 0xFAFF) || // compatibility ideographs
           (c >= 0xFF00 && c <= 0xFFEF);   // half-width and full-width forms
}

std::string TextJoin::joined(std::string_view text, std::string_view before) {
    if (before.empty() || text.empty())
        return std::string(text);
    const std::u16string before16 = Unicode::toUtf16(before);
    const std::u16string text16 = Unicode::toUtf16(text);
    const std::u16string_view last = TextCharacters::last(before16);
    const std::u16string_view first = TextCharacters::first(text16);
    if (isWhitespace(last) || isWhitespace(first))
        return std::string(text);
    if (isIn(openingSet, last) || isIn(closingSet, first))
        return std::string(text);
    if (isCJK(last) && isCJK(first))
        return std::string(text);
    return " " + std::string(text);
}

} // namespace talverin
