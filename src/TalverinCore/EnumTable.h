#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace talverin {

// The raw strings of an enumeration whose values reach logs, files, the pages or another
// subsystem. Each such enumeration specialises EnumTable once, listing every case in
// declaration order with its raw string:
//
//     template <> struct EnumTable<DictationMode> {
//         static constexpr auto entries = std::to_array<EnumEntry<DictationMode>>({
//             {DictationMode::clean, "clean"}, ...});
//     };
//
// That one table gives toString, fromString and allCases, so a raw string is spelled in
// exactly one place and a new case cannot be forgotten in one direction only.
template <typename E> struct EnumTable;

template <typename E> using EnumEntry = std::pair<E, std::string_view>;

template <typename E>
concept HasEnumTable = requires {
    EnumTable<E>::entries;
};

// The raw string of a case.
template <HasEnumTable E> constexpr std::string_view toString(E value) {
    for (const auto& [entry, name] : EnumTable<E>::entries)
        if (entry == value)
            return name;
    return {};
}

// The case whose raw string is exactly `raw` (case-sensitive), or no value.
template <HasEnumTable E> constexpr std::optional<E> fromString(std::string_view raw) {
    for (const auto& [entry, name] : EnumTable<E>::entries)
        if (name == raw)
            return entry;
    return std::nullopt;
}

// Every case, in declaration order.
template <HasEnumTable E> constexpr auto allCases() {
    constexpr auto& entries = EnumTable<E>::entries;
    std::array<E, entries.size()> cases{};
    for (std::size_t i = 0; i < entries.size(); ++i)
        cases[i] = entries[i].first;
    return cases;
}

} // namespace talverin
