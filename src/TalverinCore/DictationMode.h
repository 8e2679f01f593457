#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// The mode of one dictation. `clean` and `verbatim` come from the settings; `edit` is a voice
// edit of the selected text and is never a setting. The history stores it with every item and
// the cloud request carries it.
enum class DictationMode {
    clean,
    verbatim,
    edit,
};

template <> struct EnumTable<DictationMode> {
    static constexpr auto entries = std::to_array<EnumEntry<DictationMode>>({
        {DictationMode::clean, "clean"},
        {DictationMode::verbatim, "verbatim"},
        {DictationMode::edit, "edit"},
    });
};

} // namespace talverin
