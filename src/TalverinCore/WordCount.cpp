#include "TalverinCore/WordCount.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <memory>

#include "TalverinCore/TextCharacters.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

namespace talverin {
namespace {

// Compiled once for the life of the process; a pattern may be shared by threads, each call
// makes its own matcher.
const icu::RegexPattern* wordPattern() {
    static const std::unique_ptr<icu::RegexPattern> pattern =
        TextCharacters::compile(WordCount::regex);
    return pattern.get();
}

} // namespace

int WordCount::of(std::string_view text) {
    const icu::RegexPattern* pattern = wordPattern();
    if (text.empty() || pattern == nullptr)
        return 0;
    const icu::UnicodeString source = icu::UnicodeString::fromUTF8(icu::StringPiece(
        text.data(), static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX))));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(source, status));
    if (U_FAILURE(status) || matcher == nullptr)
        return 0;
    int count = 0;
    while (matcher->find(status) && U_SUCCESS(status))
        ++count;
    return count;
}

} // namespace talverin
