#pragma once

#include "TalverinInput/KeyEvents.h"

#include <cstdint>

namespace talverin {

// One event of the key source as a tap session reads it: a key or button event already put
// into the hold-key logic's code space, or a notice about the source itself.
struct TapEvent {
    enum class Type {
        input,               // a key or mouse event, described by the fields below
        disabledByTimeout,   // the system switched the source off: the tap was too slow
        disabledByUserInput, // the system switched the source off on the user's behalf
        connectionLost,      // the source's connection to the system is gone for good
    };

    Type type = Type::input;
    KeyEventKind kind = KeyEventKind::other;
    std::int64_t keyCode = 0;
    std::uint64_t flags = 0;
    bool isRepeat = false;
    // A media or special key (volume, brightness, play ...) went down.
    bool isMediaKeyDown = false;
    // The event's own time: milliseconds of the monotonic clock modulo 2^32, as the X server
    // stamps it; 0 (the server's "current time") means the time the event is read.
    std::uint32_t serverTime = 0;
    // Posted by this program itself, which must never hear its own keys.
    bool isOwn = false;

    static TapEvent notice(Type type) {
        TapEvent event;
        event.type = type;
        return event;
    }

    bool operator==(const TapEvent&) const = default;
};

} // namespace talverin
