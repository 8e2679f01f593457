#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// Why a hold muted by a secure field was refused without a pill: the user did not plainly
// speak into the password field.
enum class QuietRefusal {
    tap,
    noSpeech,
};

template <> struct EnumTable<QuietRefusal> {
    static constexpr auto entries = std::to_array<EnumEntry<QuietRefusal>>({
        {QuietRefusal::tap, "a tap"},
        {QuietRefusal::noSpeech, "no speech"},
    });
};

} // namespace talverin
