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

// How a dictation ended, where no pill state names it: the log line begins with it.
// Refusals and recognition's failures are named by their pill (logName).
enum class DictationOutcome {
    inserted,
    copied,
    silence,
    tap,
    noSpeechSecureInput, // a hold begun with secure input on heard nothing
    tapAtSecureField,
};

template <> struct EnumTable<DictationOutcome> {
    static constexpr auto entries = std::to_array<EnumEntry<DictationOutcome>>({
        {DictationOutcome::inserted, "inserted"},
        {DictationOutcome::copied, "copied"},
        {DictationOutcome::silence, "silence"},
        {DictationOutcome::tap, "tap"},
        {DictationOutcome::noSpeechSecureInput, "no speech (secure input)"},
        {DictationOutcome::tapAtSecureField, "tap (secureField)"},
    });
};

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
