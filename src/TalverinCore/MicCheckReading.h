#pragma once

#include "TalverinCore/EnumTable.h"

#include <optional>

namespace talverin {

// Why the microphone level check judges the microphone quiet.
enum class MicSilenceReason {
    noInput, // no usable input device, or only zero samples
    busy,    // another process holds the device exclusively
    muted,   // the input is muted or its volume is 0
    unknown, // non-zero samples arrive but the level stays low
};

template <> struct EnumTable<MicSilenceReason> {
    static constexpr auto entries = std::to_array<EnumEntry<MicSilenceReason>>({
        {MicSilenceReason::noInput, "noInput"},
        {MicSilenceReason::busy, "busy"},
        {MicSilenceReason::muted, "muted"},
        {MicSilenceReason::unknown, "unknown"},
    });
};

// One reading of the microphone level check. The level is passed on as measured: a reading
// that is not a number must fail when it is encoded for the pages, not turn into silence.
struct MicCheckReading {
    float level = 0;                        // 0 to 1
    std::optional<MicSilenceReason> reason; // set when the microphone is judged quiet

    bool operator==(const MicCheckReading&) const = default;
};

// The pace of the level check.
namespace MicCheck {

inline constexpr double interval = 0.05;     // seconds between two readings
inline constexpr double silenceWindow = 2.0; // seconds a quiet verdict looks back over

} // namespace MicCheck

} // namespace talverin
