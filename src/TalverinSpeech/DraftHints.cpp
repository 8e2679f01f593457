#include "TalverinSpeech/DraftHints.h"

#include "Runtime/Unicode.h"

#include <set>

namespace talverin {

namespace DraftHints {

std::vector<std::string> contextualStrings(const std::vector<std::string>& words, int limit) {
    std::vector<std::string> kept;
    std::set<std::string> seen;
    for (const auto& word : words) {
        if (static_cast<long>(kept.size()) >= limit)
            break;
        std::string trimmed = Unicode::trimWhitespaceAndNewlines(word);
        if (trimmed.empty() || !seen.insert(Unicode::lower(trimmed)).second)
            continue;
        kept.push_back(std::move(trimmed));
    }
    return kept;
}

} // namespace DraftHints

} // namespace talverin
