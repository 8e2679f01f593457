#include "TalverinPill/PillLang.h"

#include "Runtime/PreferredLanguages.h"

namespace talverin {

PillLang pillLangFrom(const std::vector<std::string>& preferredLanguages) {
    if (preferredLanguages.empty())
        return PillLang::en;
    const std::string& first = preferredLanguages.front();
    // Language tags are ASCII, so folding the two letters looked at is the whole lower-casing.
    auto folded = [&](std::size_t i) {
        const char c = first[i];
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return first.size() >= 2 && folded(0) == 'r' && folded(1) == 'u' ? PillLang::ru : PillLang::en;
}

PillLang currentPillLang() {
    return pillLangFrom(PreferredLanguages::current());
}

} // namespace talverin
