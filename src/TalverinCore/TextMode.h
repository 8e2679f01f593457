#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// The mode in which ordinary dictations are sent to the cloud. A voice edit uses a third mode
// that is never a setting (DictationMode::edit).
enum class TextMode {
    clean,
    verbatim,
};

template <> struct EnumTable<TextMode> {
    static constexpr auto entries = std::to_array<EnumEntry<TextMode>>({
        {TextMode::clean, "clean"},
        {TextMode::verbatim, "verbatim"},
    });
};

} // namespace talverin
