#include "TalverinCore/TextCharacters.h"

#include "Runtime/Unicode.h"

#include <climits>
#include <memory>
#include <string>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

namespace talverin {
namespace {

// The root locale's full case mapping, the same wherever the program runs. Taken once under a
// C++ static so that ICU's lazily built locale cache is ordered before every thread using it.
const icu::Locale& rootLocale() {
    static const icu::Locale& root = icu::Locale::getRoot();
    return root;
}

// A read-only alias of the view, without copying; it must not outlive the view's text.
icu::UnicodeString alias(std::u16string_view text) {
    return icu::UnicodeString(false, text.data(), static_cast<int32_t>(text.size()));
}

std::u16string owned(const icu::UnicodeString& text) {
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

// Whether the character is a single scalar.
bool isSingleScalar(std::u16string_view character) {
    if (character.size() == 1)
        return true;
    return character.size() == 2 && U16_IS_LEAD(character[0]) && U16_IS_TRAIL(character[1]);
}

bool isCased(std::u16string_view character) {
    if (isSingleScalar(character) &&
        u_hasBinaryProperty(static_cast<UChar32>(TextCharacters::firstScalar(character)),
                            UCHAR_CASED))
        return true;
    return TextCharacters::upper(character) != character ||
           TextCharacters::lower(character) != character;
}

} // namespace

std::u16string_view TextCharacters::first(std::u16string_view text) {
    if (text.empty())
        return {};
    icu::BreakIterator* iterator = Unicode::characterBreakIterator();
    if (iterator == nullptr)
        return text.substr(0, U16_IS_LEAD(text[0]) && text.size() > 1 ? 2 : 1);
    icu::UnicodeString source = alias(text);
    iterator->setText(source);
    iterator->first();
    const int32_t end = iterator->next();
    return text.substr(0, end == icu::BreakIterator::DONE ? text.size()
                                                          : static_cast<std::size_t>(end));
}

std::u16string_view TextCharacters::last(std::u16string_view text) {
    if (text.empty())
        return {};
    icu::BreakIterator* iterator = Unicode::characterBreakIterator();
    if (iterator == nullptr) {
        const bool pair =
            text.size() > 1 && U16_IS_TRAIL(text.back()) && U16_IS_LEAD(text[text.size() - 2]);
        return text.substr(text.size() - (pair ? 2 : 1));
    }
    icu::UnicodeString source = alias(text);
    iterator->setText(source);
    iterator->last();
    const int32_t start = iterator->previous();
    return text.substr(start == icu::BreakIterator::DONE ? 0 : static_cast<std::size_t>(start));
}

char32_t TextCharacters::firstScalar(std::u16string_view character) {
    if (character.empty())
        return 0;
    const char16_t unit = character[0];
    if (U16_IS_LEAD(unit) && character.size() > 1 && U16_IS_TRAIL(character[1]))
        return static_cast<char32_t>(U16_GET_SUPPLEMENTARY(unit, character[1]));
    return U16_IS_SURROGATE(unit) ? U'\uFFFD' : static_cast<char32_t>(unit);
}

bool TextCharacters::isUppercase(std::u16string_view character) {
    if (character.empty())
        return false;
    if (isSingleScalar(character) &&
        u_hasBinaryProperty(static_cast<UChar32>(firstScalar(character)), UCHAR_UPPERCASE))
        return true;
    return upper(character) == character && isCased(character);
}

bool TextCharacters::isLowercase(std::u16string_view character) {
    if (character.empty())
        return false;
    if (isSingleScalar(character) &&
        u_hasBinaryProperty(static_cast<UChar32>(firstScalar(character)), UCHAR_LOWERCASE))
        return true;
    return lower(character) == character && isCased(character);
}

bool TextCharacters::isLetterOrNumber(char32_t scalar) {
    return (U_GET_GC_MASK(static_cast<UChar32>(scalar)) & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

std::u16string TextCharacters::upper(std::u16string_view text) {
    icu::UnicodeString mapped(text.data(), static_cast<int32_t>(text.size()));
    mapped.toUpper(rootLocale());
    return owned(mapped);
}

std::u16string TextCharacters::lower(std::u16string_view text) {
    icu::UnicodeString mapped(text.data(), static_cast<int32_t>(text.size()));
    mapped.toLower(rootLocale());
    return owned(mapped);
}

std::unique_ptr<icu::RegexPattern> TextCharacters::compile(std::u16string_view expression,
                                                           std::uint32_t flags) {
    if (expression.size() > INT32_MAX)
        return nullptr;
    UParseError where;
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString source(expression.data(), static_cast<int32_t>(expression.size()));
    std::unique_ptr<icu::RegexPattern> pattern(
        icu::RegexPattern::compile(source, flags, where, status));
    if (U_FAILURE(status))
        return nullptr;
    return pattern;
}

} // namespace talverin
