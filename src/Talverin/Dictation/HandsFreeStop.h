#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// What ended a hands-free dictation.
enum class HandsFreeStop {
    key,
    button,
    limit, // its time ran out
};

template <> struct EnumTable<HandsFreeStop> {
    static constexpr auto entries = std::to_array<EnumEntry<HandsFreeStop>>({
        {HandsFreeStop::key, "key"},
        {HandsFreeStop::button, "button"},
        {HandsFreeStop::limit, "limit"},
    });
};

} // namespace talverin
