#pragma once

#include "TalverinCloud/SecretStore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talverin::test {

inline std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

inline std::string text(const std::vector<std::uint8_t>& data) {
    return {data.begin(), data.end()};
}

// A read secret as a test compares it: the secret, or nothing when the store has none.
inline std::optional<std::string> shown(const SecretStore::Read& read) {
    if (!read && read.error() != SecretStoreError::absent)
        ADD_FAILURE() << "the secret store failed: " << toString(read.error()) << " "
                      << read.message();
    return read ? std::optional(*read) : std::nullopt;
}

} // namespace talverin::test
