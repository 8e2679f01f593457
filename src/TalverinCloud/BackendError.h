#pragma once

#include <string>
#include <utility>

namespace talverin {

// Why the backend could not give an access token (or warm up).
struct BackendError {
    enum class Kind {
        service,         // the service answered something unusable; the message says what
        notConfigured,   // no backend in this build, or an unusable address
        consentRequired, // the user has not consented to cloud dictation
        offline,         // no network path to the backend
        timeout,         // the authentication call timed out
        busy,            // the service is busy (429)
        signupDisabled,  // the service has anonymous sign-ins turned off (422)
        cancelled,       // the transfer was cancelled: not the service's doing
    };

    Kind kind = Kind::service;
    std::string message;

    static BackendError service(std::string message) { return {Kind::service, std::move(message)}; }
    static BackendError notConfigured() { return {Kind::notConfigured, {}}; }
    static BackendError consentRequired() { return {Kind::consentRequired, {}}; }
    static BackendError offline() { return {Kind::offline, {}}; }
    static BackendError timeout() { return {Kind::timeout, {}}; }
    static BackendError busy() { return {Kind::busy, {}}; }
    static BackendError signupDisabled() { return {Kind::signupDisabled, {}}; }
    static BackendError cancelled() { return {Kind::cancelled, {}}; }

    // The readable words of a log line.
    std::string description() const {
        switch (kind) {
        case Kind::service:
            return message;
        case Kind::notConfigured:
            return "no backend in this build";
        case Kind::consentRequired:
            return "no consent";
        case Kind::offline:
            return "offline";
        case Kind::timeout:
            return "auth timeout";
        case Kind::busy:
            return "auth busy (429)";
        case Kind::signupDisabled:
            return "anonymous sign-ins are off (422)";
        case Kind::cancelled:
            return "cancelled";
        }
        return message;
    }

    bool operator==(const BackendError&) const = default;
};

} // namespace talverin
