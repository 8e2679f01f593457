#pragma once

#include "TalverinInput/MicrophoneAccess.h"
#include "TalverinInput/NotificationCenter.h"

#include <memory>

namespace talverin {

// The microphone permission on Linux: whether the sound server accepts a connection. Access
// refused (a rejected cookie, a socket not ours) is denied. A server that does not answer in
// time (stopped, overloaded) or is not there at all has decided nothing about us: that is
// notDetermined, never denied or restricted, so that a slow server does not send the user to
// grant a permission nobody refused. The check never starts a server and gives up after a
// short timeout; after the first one it runs in the background, so that a poll on the main
// queue never waits for the server.
class MicrophoneAccessPulse final : public MicrophoneAccess {
public:
    static constexpr double connectTimeout = 1.0;
    // A state older than this is checked again, in the background, when asked for.
    static constexpr double recheckAfter = 2.0;
    // While the server has not answered, every question starts a check of its own, at most this
    // often; a check that finds the state changed posts microphoneNotification at once, so a
    // server that appears is seen within one poll.
    static constexpr double recheckUnanswered = 0.25;

    // `center` may be null; it hears PermissionsMonitor::microphoneNotification.
    explicit MicrophoneAccessPulse(std::shared_ptr<NotificationCenter> center = nullptr);
    ~MicrophoneAccessPulse() override;
    MicrophoneAccessPulse(const MicrophoneAccessPulse&) = delete;
    MicrophoneAccessPulse& operator=(const MicrophoneAccessPulse&) = delete;

    // Any thread. The first call waits for a check; later calls answer the last result at
    // once.
    Wire::PermissionState state() override;
    // Any thread. Checks now, waiting up to the timeout.
    Wire::PermissionState check() override;

    // One connection attempt to the sound server named by the environment and client.conf.
    static Wire::PermissionState probe(double timeout);

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace talverin
