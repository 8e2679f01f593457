#pragma once

#include "Runtime/Unicode.h"

#include <cstddef>
#include <functional>
#include <string>

namespace talverin {

// One replacement rule of the user's list: the phrase to find and the text to put in its place
// (an empty `to` deletes the phrase). Both strings are kept exactly as they came, untrimmed.
struct Replacement {
    std::string from;
    std::string to;

    // Exact and case-sensitive, but over the NFC forms: a field or a page that hands back
    // decomposed text must not make "café" and "cafe" + U+0301 two different rules.
    friend bool operator==(const Replacement& a, const Replacement& b) {
        return Unicode::canonicallyEqual(a.from, b.from) && Unicode::canonicallyEqual(a.to, b.to);
    }
};

} // namespace talverin

// Agrees with operator==: canonically equivalent rules hash alike.
template <> struct std::hash<talverin::Replacement> {
    std::size_t operator()(const talverin::Replacement& rule) const noexcept {
        const std::size_t fromHash = talverin::Unicode::nfcHash(rule.from);
        const std::size_t toHash = talverin::Unicode::nfcHash(rule.to);
        // Boost's hash_combine mixing, so that swapping `from` and `to` changes the hash.
        return fromHash ^ (toHash + 0x9e3779b97f4a7c15ULL + (fromHash << 6) + (fromHash >> 2));
    }
};
