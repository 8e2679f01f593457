#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// Why the system is about to take the user away from a dictation; the raw strings are the
// words the dictation's cancellation line uses.
enum class SuspendReason {
    sleep,
    userSwitched,
    screenLocked,
};

template <> struct EnumTable<SuspendReason> {
    static constexpr auto entries = std::to_array<EnumEntry<SuspendReason>>({
        {SuspendReason::sleep, "sleep"},
        {SuspendReason::userSwitched, "user switched"},
        {SuspendReason::screenLocked, "screen locked"},
    });
};

} // namespace talverin
