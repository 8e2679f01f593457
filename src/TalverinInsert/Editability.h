#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// Whether the focused element takes typed or pasted text.
enum class Editability {
    editable,
    notEditable,
    unknown,
};

template <> struct EnumTable<Editability> {
    static constexpr auto entries = std::to_array<EnumEntry<Editability>>({
        {Editability::editable, "editable"},
        {Editability::notEditable, "notEditable"},
        {Editability::unknown, "unknown"},
    });
};

// Whether the focus at insertion time is still on the element read at dictation start.
enum class FocusVerdict {
    same,
    changed,
    unknown,
};

template <> struct EnumTable<FocusVerdict> {
    static constexpr auto entries = std::to_array<EnumEntry<FocusVerdict>>({
        {FocusVerdict::same, "same"},
        {FocusVerdict::changed, "changed"},
        {FocusVerdict::unknown, "unknown"},
    });
};

} // namespace talverin
