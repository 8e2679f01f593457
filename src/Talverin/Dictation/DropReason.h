#pragma once

#include "TalverinCore/EnumTable.h"
#include "TalverinCore/KeyCancelReason.h"
#include "TalverinCore/SuspendReason.h"

#include <string_view>
#include <variant>

namespace talverin {

// Why the controller itself ends a listening session early. The raw strings are the words of
// the cancellation line.
enum class DropReason {
    escape,
    tap,           // a press came while a tap waited for its second press
    tapSuperseded, // a press came while a tap's clip was still on its way
    secureField,
    secureFieldAtTap, // a secure field found while a tap waited
};

template <> struct EnumTable<DropReason> {
    static constexpr auto entries = std::to_array<EnumEntry<DropReason>>({
        {DropReason::escape, "escape"},
        {DropReason::tap, "tap"},
        {DropReason::tapSuperseded, "tap superseded by a new press"},
        {DropReason::secureField, "secureField"},
        {DropReason::secureFieldAtTap, "secureField (a tap)"},
    });
};

// Everything a session is cancelled for: the controller's own reasons, the hold's and the
// system's.
using CancelCause = std::variant<DropReason, KeyCancelReason, SuspendReason>;

inline std::string_view toString(const CancelCause& cause) {
    return std::visit([](auto reason) { return toString(reason); }, cause);
}

} // namespace talverin
