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
// exactly one place and a new case cannot be forgotten in one direction only. A table that
// leaves a case out, or lists the cases out of order, does not compile: the enumeration's cases
// must run 0, 1, 2 ... in declaration order, so the i-th entry is the case with value i and the
// value after the last entry is no case at all.
template <typename E> struct EnumTable;

template <typename E> using EnumEntry = std::pair<E, std::string_view>;

template <typename E>
concept HasEnumTable = requires {
    EnumTable<E>::entries;
};

namespace enum_table {

// Whether the value is one of its enumeration's named cases. clang writes a template argument
// that is a named case as its name ("[V = talverin::DictationMode::edit]") and any other value
// as a cast ("[V = (talverin::DictationMode)3]").
template <auto V> constexpr bool isNamedCase() {
    constexpr std::string_view signature = __PRETTY_FUNCTION__;
    constexpr std::string_view marker = "[V = ";
    constexpr auto at = signature.find(marker);
    static_assert(at != std::string_view::npos,
                  "the compiler spells template arguments unlike clang");
    return signature[at + marker.size()] != '(';
}

template <typename E> constexpr bool listsCasesInOrder() {
    const auto& entries = EnumTable<E>::entries;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].first != static_cast<E>(i))
            return false;
    return true;
}

// The table itself, once it is known to name every case.
template <HasEnumTable E> constexpr const auto& entries() {
    static_assert(listsCasesInOrder<E>(),
                  "EnumTable: entry i must be the case with value i (a case is missing, out of "
                  "order, or the enumeration does not count up from 0)");
    static_assert(!isNamedCase<static_cast<E>(EnumTable<E>::entries.size())>(),
                  "EnumTable: the enumeration has a case after the table's last entry");
    return EnumTable<E>::entries;
}

} // namespace enum_table

// The raw string of a case.
template <HasEnumTable E> constexpr std::string_view toString(E value) {
    for (const auto& [entry, name] : enum_table::entries<E>())
        if (entry == value)
            return name;
    return {};
}

// The case whose raw string is exactly `raw` (case-sensitive), or no value.
template <HasEnumTable E> constexpr std::optional<E> fromString(std::string_view raw) {
    for (const auto& [entry, name] : enum_table::entries<E>())
        if (name == raw)
            return entry;
    return std::nullopt;
}

// Every case, in declaration order.
template <HasEnumTable E> constexpr auto allCases() {
    constexpr auto& entries = enum_table::entries<E>();
    std::array<E, entries.size()> cases{};
    for (std::size_t i = 0; i < entries.size(); ++i)
        cases[i] = entries[i].first;
    return cases;
}

} // namespace talverin
