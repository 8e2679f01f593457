#pragma once

#include "Runtime/Result.h"
#include "TalverinCore/EnumTable.h"
#include "TalverinInput/TapEvent.h"

#include <cstdint>
#include <functional>

namespace talverin {

// Why a key source cannot listen.
enum class KeySourceError {
    noDisplay,   // there is no display server to connect to
    unsupported, // the display server lacks what listening needs
    lost,        // the connection broke while listening was being set up
    noResources, // the system refused something the source needs
    unavailable, // this system has no key source at all
};

template <> struct EnumTable<KeySourceError> {
    static constexpr auto entries = std::to_array<EnumEntry<KeySourceError>>({
        {KeySourceError::noDisplay, "noDisplay"},
        {KeySourceError::unsupported, "unsupported"},
        {KeySourceError::lost, "lost"},
        {KeySourceError::noResources, "noResources"},
        {KeySourceError::unavailable, "unavailable"},
    });
};

// The keyboard and mouse of the user's session as one tap session hears them: every key press
// and release and every button press, listen-only, never delaying or changing an event. One
// source serves one session; every member but wake() runs on that session's thread.
class KeySource {
public:
    virtual ~KeySource() = default;

    // Starts listening; on failure nothing stays open, and the error says why, with the
    // system's own words where it gives any.
    virtual Result<void, KeySourceError> open() = 0;
    // Stops listening and lets go of the connection; also after the connection was lost.
    virtual void close() = 0;
    // Returns once an event is waiting, wake() was called or `timeout` seconds have passed; a
    // negative timeout waits without limit. Returns at once once the connection is lost.
    virtual void wait(double timeout) = 0;
    // Any thread: ends the current wait, or the next one, at once.
    virtual void wake() = 0;
    // Hands every event that has arrived to `deliver`, oldest first. Once the connection is
    // lost it hands over one connectionLost notice and nothing after it.
    virtual void drain(const std::function<void(const TapEvent&)>& deliver) = 0;
    // Whether the key with this hold-key code is down on the keyboard now; false when gone.
    virtual bool isKeyDown(std::int64_t keyCode) = 0;
    // Listens again after a disabled notice.
    virtual void enable() = 0;
};

} // namespace talverin
