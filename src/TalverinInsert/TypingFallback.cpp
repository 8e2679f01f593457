#include "TalverinInsert/TypingFallback.h"

#include "Runtime/Unicode.h"

#include <utility>

#include <unicode/unistr.h>
#include <unicode/utf16.h>

namespace talverin {

namespace {

// The line breaks typed as a new line. Fixed here rather than taken from the whitespace set:
// what counts is what a text field turns into a new line, and a carriage return followed by a
// line feed is one character, so it gives one new line.
bool isLineBreak(char32_t c) {
    switch (c) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<TypingFallback::Piece> TypingFallback::pieces(std::string_view text) {
    const std::u16string units = Unicode::toUtf16(text);
    std::vector<Piece> out;
    std::u16string current;
    const auto flush = [&] {
        if (!current.empty())
            out.emplace_back(std::exchange(current, {}));
    };

    icu::BreakIterator* characters = Unicode::characterBreakIterator();
    const icu::UnicodeString whole(false, units.data(), static_cast<int32_t>(units.size()));
    if (characters)
        characters->setText(whole);
    std::size_t start = 0;
    while (start < units.size()) {
        std::size_t end;
        if (characters) {
            const int32_t next = characters->following(static_cast<int32_t>(start));
            end = next == icu::BreakIterator::DONE ? units.size() : static_cast<std::size_t>(next);
        } else {
            end = start;
            U16_FWD_1(units.data(), end, units.size());
        }
        char32_t first;
        std::size_t at = start;
        U16_NEXT(units.data(), at, units.size(), first);
        if (isLineBreak(first)) {
            flush();
            out.emplace_back(LineBreak{});
        } else {
            if (current.size() + (end - start) > maxUnits)
                flush();
            current.append(units, start, end - start);
        }
        start = end;
    }
    flush();
    return out;
}

std::set<std::string> TypingFallback::defaultBundleIDs() {
    return {};
}

} // namespace talverin
