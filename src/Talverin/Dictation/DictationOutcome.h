#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

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

} // namespace talverin
