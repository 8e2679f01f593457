#pragma once

#include "TalverinInput/MicrophoneAccess.h"

#include <functional>
#include <mutex>
#include <optional>

namespace talverin {

// The microphone permission on Linux: whether the sound server takes the application's own
// connection, the one that records and plays. The check reads the state of that connection and
// opens none of its own, so that watching the permission costs the server nothing.
//
// Access refused (a rejected cookie, a socket not ours) is denied. A server that stops
// answering, or goes away, has decided nothing about us: the last state stands (a user who was
// granted the microphone is not sent to grant it again because the server restarts), and one
// log line says so; another says when it answers again. Before any answer at all, such a server
// leaves the microphone notDetermined.
class MicrophoneAccessPulse final : public MicrophoneAccess {
public:
    static constexpr double connectTimeout = 1.0;
    // The launch found a server moments before the first question; a connection still being
    // made to it on a busy machine is waited for this long rather than read as undecided, which
    // would send an onboarded user back to the onboarding.
    static constexpr double firstAnswerTimeout = 5.0;

    // The application's connection to the sound server as the check reads it.
    struct Link {
        bool ready = false; // connected and ready for requests
        int error = 0;      // while not ready: the libpulse error code of the last attempt, or 0
        bool unanswered = false; // ready, but the server did not answer a request in time
    };
    // Answers the connection's state, first waiting up to `seconds` while it is being made
    // (never with 0). Called on any thread but the connection's own.
    using LinkReader = std::function<Link(double seconds)>;

    explicit MicrophoneAccessPulse(LinkReader link);

    // Any thread. The first call waits up to firstAnswerTimeout for a connection being made;
    // later calls never wait.
    Wire::PermissionState state() override;
    // Any thread but the main one. Waits up to connectTimeout for a connection being made.
    Wire::PermissionState check() override;

    // What the link says about the permission; nothing when the server gave no answer.
    static std::optional<Wire::PermissionState> stateOf(const Link& link);

    // One connection attempt of its own to the sound server named by the environment and
    // client.conf; for the launch, which asks once whether there is a server at all.
    static Wire::PermissionState probe(double timeout);

private:
    Wire::PermissionState answer(const Link& link);

    const LinkReader m_link;
    std::mutex m_mutex;
    std::optional<Wire::PermissionState> m_last;
    // Whether the server's silence has been logged, so that it is logged once.
    bool m_silenceLogged = false;
};

} // namespace talverin
