#include "Runtime/Unicode.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace talverin {
namespace {

constexpr std::string_view replacementUtf8 = "\xEF\xBF\xBD";

const uint8_t* bytesOf(std::string_view text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

bool isAscii(std::string_view text) {
    unsigned char seen = 0;
    for (char c : text)
        seen |= static_cast<unsigned char>(c);
    return seen < 0x80;
}

// ICU counts in int32_t; a longer text is cut rather than misread.
icu::StringPiece piece(std::string_view text) {
    auto length = std::min<std::size_t>(text.size(), INT32_MAX);
    return icu::StringPiece(text.data(), static_cast<int32_t>(length));
}

// The code point at text[i], moving i past it. An ill-formed sequence gives U+FFFD and is left
// by its maximal subpart, as ICU's own converters do.
char32_t nextCodePoint(std::string_view text, std::size_t& i) {
    const uint8_t* bytes = bytesOf(text);
    const std::size_t length = text.size();
    UChar32 c;
    U8_NEXT_OR_FFFD(bytes, i, length, c);
    return static_cast<char32_t>(c);
}

std::size_t firstIllFormed(std::string_view text) {
    const uint8_t* bytes = bytesOf(text);
    const std::size_t length = text.size();
    std::size_t i = 0;
    while (i < length) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            return start;
    }
    return std::string_view::npos;
}

// The text itself when it is well-formed; otherwise a repaired copy, kept in storage.
std::string_view wellFormed(std::string_view text, std::string& storage) {
    std::size_t i = firstIllFormed(text);
    if (i == std::string_view::npos)
        return text;
    const uint8_t* bytes = bytesOf(text);
    const std::size_t length = text.size();
    storage.reserve(text.size() + replacementUtf8.size());
    storage.assign(text.substr(0, i));
    while (i < length) {
        const std::size_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            storage += replacementUtf8;
        else
            storage.append(text.substr(start, i - start));
    }
    return storage;
}

// The result of wellFormed as an owned string, without copying a repaired text twice.
std::string owned(std::string_view text, std::string& storage) {
    if (!storage.empty() && text.data() == storage.data())
        return std::move(storage);
    return std::string(text);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

const icu::Normalizer2* nfcNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    return U_SUCCESS(status) ? normalizer : nullptr;
}

std::string trimmed(std::string_view text, bool (*isTrimmed)(char32_t)) {
    std::string storage;
    text = wellFormed(text, storage);
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t i = begin;
        if (!isTrimmed(nextCodePoint(text, i)))
            break;
        begin = i;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // The text is well-formed here, so a code point starts at the first non-trail byte.
        std::size_t start = end - 1;
        while (start > begin && (bytesOf(text)[start] & 0xC0) == 0x80)
            --start;
        std::size_t i = start;
        if (!isTrimmed(nextCodePoint(text, i)))
            break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

enum class CaseMapping { Lower, Upper };

std::string mapCase(std::string_view text, CaseMapping mapping) {
    if (isAscii(text)) {
        // The root locale maps ASCII letters one to one, so no ICU call is needed.
        std::string out(text);
        for (char& c : out) {
            if (mapping == CaseMapping::Lower && c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            else if (mapping == CaseMapping::Upper && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
        return out;
    }
    std::string storage;
    text = wellFormed(text, storage);
    std::string out;
    icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(piece(text).length()));
    UErrorCode status = U_ZERO_ERROR;
    // An empty locale name selects the root locale; a null one would select the user's.
    if (mapping == CaseMapping::Lower)
        icu::CaseMap::utf8ToLower("", 0, piece(text), sink, nullptr, status);
    else
        icu::CaseMap::utf8ToUpper("", 0, piece(text), sink, nullptr, status);
    return U_SUCCESS(status) ? out : owned(text, storage);
}

} // namespace

std::size_t Unicode::graphemeCount(std::string_view text) {
    if (isAscii(text)) {
        // Among ASCII characters only CR LF is a cluster of more than one.
        std::size_t count = text.size();
        for (std::size_t i = 1; i < text.size(); ++i)
            if (text[i - 1] == '\r' && text[i] == '\n')
                --count;
        return count;
    }
    std::string storage;
    text = wellFormed(text, storage);
    icu::BreakIterator* iterator = Unicode::characterBreakIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    if (iterator != nullptr)
        iterator->setText(&utext, status);
    std::size_t count = 0;
    if (iterator != nullptr && U_SUCCESS(status)) {
        iterator->first();
        while (iterator->next() != icu::BreakIterator::DONE)
            ++count;
    } else {
        // Without ICU's data, code points are the closest count there is.
        for (std::size_t i = 0; i < text.size(); ++count)
            nextCodePoint(text, i);
    }
    utext_close(&utext);
    return count;
}

bool Unicode::isBlank(char32_t c) {
    if (c < 0x80)
        return c == ' ' || c == '\t';
    return c <= 0x10FFFF && u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool Unicode::isWhitespaceOrNewline(char32_t c) {
    return isBlank(c) || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::string Unicode::trimBlanks(std::string_view text) {
    return trimmed(text, &isBlank);
}

std::string Unicode::trimWhitespaceAndNewlines(std::string_view text) {
    return trimmed(text, &isWhitespaceOrNewline);
}

std::string Unicode::lower(std::string_view text) {
    return mapCase(text, CaseMapping::Lower);
}
std::string Unicode::upper(std::string_view text) {
    return mapCase(text, CaseMapping::Upper);
}

std::string Unicode::nfc(std::string_view text) {
    if (isAscii(text))
        return std::string(text);
    std::string storage;
    text = wellFormed(text, storage);
    const icu::Normalizer2* normalizer = nfcNormalizer();
    UErrorCode status = U_ZERO_ERROR;
    if (normalizer == nullptr || normalizer->isNormalizedUTF8(piece(text), status) ||
        U_FAILURE(status))
        return owned(text, storage);
    std::string out;
    icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(piece(text).length()));
    normalizer->normalizeUTF8(0, piece(text), sink, nullptr, status);
    return U_SUCCESS(status) ? out : owned(text, storage);
}

bool Unicode::canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b)
        return true;
    if (isAscii(a) && isAscii(b))
        return false;
    return nfc(a) == nfc(b);
}

std::size_t Unicode::nfcHash(std::string_view text) {
    return std::hash<std::string>{}(nfc(text));
}

bool Unicode::isValidUtf8(std::string_view text) {
    return firstIllFormed(text) == std::string_view::npos;
}

std::string Unicode::validUtf8(std::string_view text) {
    std::string storage;
    return owned(wellFormed(text, storage), storage);
}

std::u16string Unicode::toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            out += static_cast<char16_t>(U16_LEAD(c));
            out += static_cast<char16_t>(U16_TRAIL(c));
        }
    }
    return out;
}

std::string Unicode::toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    const char16_t* units = text.data();
    const std::size_t length = text.size();
    for (std::size_t i = 0; i < length;) {
        UChar32 c;
        U16_NEXT(units, i, length, c);
        appendUtf8(out, U_IS_SURROGATE(c) ? 0xFFFD : static_cast<char32_t>(c));
    }
    return out;
}

// Creating a break iterator loads its rules, so one prototype is made, once, and each thread
// keeps its own clone. Making the prototype under a C++ static also orders ICU's lazily built
// data before every thread that reads it, which the thread sanitizer cannot see inside the
// uninstrumented library.
icu::BreakIterator* Unicode::characterBreakIterator() {
    static const std::unique_ptr<const icu::BreakIterator> prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        static const icu::Locale& root = icu::Locale::getRoot();
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(root, status));
        if (U_FAILURE(status))
            made.reset();
        return made;
    }();
    thread_local std::unique_ptr<icu::BreakIterator> iterator(
        prototype != nullptr ? prototype->clone() : nullptr);
    return iterator.get();
}

} // namespace talverin
