#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// What the cloud did for a dictation that it answered, or that never asked it. Its failures
// are named by the error's text.
enum class CloudOutcome {
    none, // no backend, or no encoder: the cloud was not asked
    ok,
    guardRaw,   // the language guard took the answer's raw transcript
    guardLocal, // the language guard took the on-device draft
    otherError, // a failure that is not one of the service's own errors
};

template <> struct EnumTable<CloudOutcome> {
    static constexpr auto entries = std::to_array<EnumEntry<CloudOutcome>>({
        {CloudOutcome::none, "none"},
        {CloudOutcome::ok, "ok"},
        {CloudOutcome::guardRaw, "ok (language guard: raw)"},
        {CloudOutcome::guardLocal, "ok (language guard: local)"},
        {CloudOutcome::otherError, "error"},
    });
};

} // namespace talverin
