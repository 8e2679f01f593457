#include "TalverinInsert/CaretWindow.h"

#include "Runtime/Unicode.h"

#include <algorithm>
#include <optional>

#include <unicode/unistr.h>
#include <unicode/utf16.h>

namespace talverin {

namespace {

// The longest partial word that an edge drops.
constexpr std::size_t partialWordUnits = 40;

struct Separator {
    std::size_t at;
    std::size_t units;
};

std::optional<Separator> firstSeparator(const std::u16string& text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        std::size_t next = i;
        U16_NEXT(text.data(), next, text.size(), c);
        if (Unicode::isWhitespaceOrNewline(c))
            return Separator{i, next - i};
        i = next;
    }
    return std::nullopt;
}

std::optional<Separator> lastSeparator(const std::u16string& text) {
    for (std::size_t i = text.size(); i > 0;) {
        char32_t c;
        std::size_t start = i;
        U16_PREV(text.data(), 0, start, c);
        if (Unicode::isWhitespaceOrNewline(c))
            return Separator{start, i - start};
        i = start;
    }
    return std::nullopt;
}

} // namespace

std::u16string CaretWindow::trimLeadingPartialWord(const std::u16string& text) {
    const auto separator = firstSeparator(text);
    if (!separator || separator->at > partialWordUnits)
        return text;
    return text.substr(separator->at + separator->units);
}

std::u16string CaretWindow::trimTrailingPartialWord(const std::u16string& text) {
    const auto separator = lastSeparator(text);
    if (!separator || text.size() - separator->at > partialWordUnits + 1)
        return text;
    return text.substr(0, separator->at);
}

CaretWindow::Around CaretWindow::slice(const std::u16string& text, AXRange selection,
                                       std::int64_t before, std::int64_t after) {
    const auto n = static_cast<std::int64_t>(text.size());
    const std::int64_t location = std::clamp<std::int64_t>(selection.location, 0, n);
    const std::int64_t length = std::clamp<std::int64_t>(selection.length, 0, n - location);
    const std::int64_t end = location + length;

    std::int64_t beforeStart =
        std::max<std::int64_t>(location - std::max<std::int64_t>(before, 0), 0);
    std::int64_t afterStop = std::min(end + std::max<std::int64_t>(after, 0), n);

    // An edge inside a character moves to that character's edge on the inner side.
    icu::BreakIterator* characters = Unicode::characterBreakIterator();
    if (characters &&
        ((beforeStart > 0 && beforeStart < location) || (afterStop < n && afterStop > end))) {
        const icu::UnicodeString whole(false, text.data(), static_cast<int32_t>(n));
        characters->setText(whole);
        if (beforeStart > 0 && beforeStart < location &&
            !characters->isBoundary(static_cast<int32_t>(beforeStart)))
            beforeStart = std::min<std::int64_t>(
                characters->following(static_cast<int32_t>(beforeStart)), location);
        if (afterStop < n && afterStop > end &&
            !characters->isBoundary(static_cast<int32_t>(afterStop)))
            afterStop =
                std::max<std::int64_t>(characters->preceding(static_cast<int32_t>(afterStop)), end);
    }

    Around around{text.substr(beforeStart, location - beforeStart), text.substr(location, length),
                  text.substr(end, afterStop - end)};
    if (beforeStart > 0)
        around.before = trimLeadingPartialWord(around.before);
    if (afterStop < n)
        around.after = trimTrailingPartialWord(around.after);
    return around;
}

std::pair<std::u16string, std::u16string> CaretWindow::trimmed(std::u16string before, bool cutStart,
                                                               std::u16string after, bool cutEnd) {
    constexpr char16_t replacement = u'\uFFFD';
    if (cutStart) {
        before.erase(0, before.find_first_not_of(replacement));
        before = trimLeadingPartialWord(before);
    }
    if (cutEnd) {
        const auto last = after.find_last_not_of(replacement);
        after.erase(last == std::u16string::npos ? 0 : last + 1);
        after = trimTrailingPartialWord(after);
    }
    return {std::move(before), std::move(after)};
}

} // namespace talverin
