#pragma once

#include "TalverinCore/WirePermissions.h"

#include <memory>

namespace talverin {

// The microphone permission on Linux: whether the sound server accepts a connection. Access
// refused (a rejected cookie, a socket not ours) is denied; no server at all is restricted.
// The check never starts a server and gives up after a short timeout; after the first one it
// runs in the background, so that a poll on the main queue never waits for the server.
class MicrophoneAccessPulse {
public:
    static constexpr double connectTimeout = 1.0;
    // A state older than this is checked again, in the background, when asked for.
    static constexpr double recheckAfter = 2.0;

    MicrophoneAccessPulse();
    ~MicrophoneAccessPulse();
    MicrophoneAccessPulse(const MicrophoneAccessPulse&) = delete;
    MicrophoneAccessPulse& operator=(const MicrophoneAccessPulse&) = delete;

    // Any thread. The first call waits for a check; later calls answer the last result at
    // once, notDetermined never after the first check.
    Wire::PermissionState state();
    // Any thread. Checks now, waiting up to the timeout.
    Wire::PermissionState check();

    // One connection attempt to the sound server named by the environment and client.conf.
    static Wire::PermissionState probe(double timeout);

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace talverin
