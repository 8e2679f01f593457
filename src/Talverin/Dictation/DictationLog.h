#pragma once

#include "TalverinCore/DictationMode.h"
#include "TalverinCore/PillState.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talverin {

// The timings of one dictation, written once as its log line. Durations are whole
// milliseconds; an optional part that is absent is left out of the line.
struct DictationLog {
    std::optional<DictationMode> mode; // absent when the dictation ended before one was chosen
    std::int64_t holdMs = 0;           // from the press to the finishing time
    std::int64_t endMs = 0;            // from the finishing time until the clip was in hand
    std::int64_t clipMs = 0;           // the clip's length
    std::optional<std::int64_t> firstAudioMs; // from the press to the first microphone block
    std::optional<std::int64_t> pillMs;       // from the press to the first pill
    std::optional<std::int64_t> contextMs;    // how long the context read took
    bool handsFree = false;
    std::string cloud; // recognition's note on the cloud; empty until recognition ran
    std::optional<std::int64_t> cloudMs;
    std::optional<std::int64_t> serverMs;
    std::optional<std::int64_t> flushMs;
    std::optional<std::int64_t> draftMs;
    std::optional<std::int64_t> releaseToTextMs;
    std::optional<std::int64_t> insertMs;
    std::optional<std::int64_t> chars;
    std::optional<std::int64_t> words;
    std::string outcome;

    // The log line: "Dictation: " and the outcome, then every part present, joined with ", ".
    std::string text() const;

    bool operator==(const DictationLog&) const = default;
};

// How a pill state is named in the dictation's log line: "refused(" + the reason + ")" for a
// refusal, the kind's raw value for every other state.
std::string logName(const PillState& state);

} // namespace talverin
