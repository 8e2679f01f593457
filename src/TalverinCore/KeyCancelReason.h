#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// Why the hold state machine cancelled a hold. The dictation controller names the reason by
// its raw string when it drops the session.
enum class KeyCancelReason {
    otherKey,      // another key went down
    click,         // a mouse click
    otherModifier, // another modifier key went down
    trustLost,     // the accessibility permission was lost
    watchdog,      // the hold outlived the watchdog limit
};

template <> struct EnumTable<KeyCancelReason> {
    static constexpr auto entries = std::to_array<EnumEntry<KeyCancelReason>>({
        {KeyCancelReason::otherKey, "otherKey"},
        {KeyCancelReason::click, "click"},
        {KeyCancelReason::otherModifier, "otherModifier"},
        {KeyCancelReason::trustLost, "trustLost"},
        {KeyCancelReason::watchdog, "watchdog"},
    });
};

} // namespace talverin
