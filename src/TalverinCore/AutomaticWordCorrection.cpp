#include "TalverinCore/AutomaticWordCorrection.h"

#include "Runtime/Unicode.h"

#include <algorithm>
#include <string>

namespace talverin {
namespace {

// Phrases that differ only in case, or only in how their characters are composed, are one.
std::string caseKey(const std::string& phrase) {
    return Unicode::nfc(Unicode::lower(phrase));
}

} // namespace

std::optional<std::vector<Replacement>>
AutomaticWordCorrection::update(const std::optional<Replacement>& correction,
                                const std::vector<Replacement>& rules,
                                std::size_t maxReplacements) {
    if (manuallyChanged)
        return std::nullopt;
    if (!installed && !correction)
        return std::nullopt;
    if (installed && correction && *correction == *installed)
        return std::nullopt;

    std::vector<Replacement> updated = rules;
    if (installed) {
        auto found = std::find(updated.begin(), updated.end(), *installed);
        if (found == updated.end()) {
            // The user has edited or removed the learned rule: their list is theirs from now on.
            manuallyChanged = true;
            return std::nullopt;
        }
        updated.erase(found);
        installed.reset();
    }
    if (correction) {
        const std::string key = caseKey(correction->from);
        const bool known = std::any_of(updated.begin(), updated.end(), [&](const Replacement& r) {
            return caseKey(r.from) == key;
        });
        // A rule the user already has for that word wins, and a full list takes no more.
        if (updated.size() < maxReplacements && !known) {
            updated.push_back(*correction);
            installed = correction;
        }
    }
    if (updated == rules)
        return std::nullopt;
    return updated;
}

} // namespace talverin
