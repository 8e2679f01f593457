#pragma once

#include <string>

namespace talverin {

// The errors of a cloud dictation. Its words in a log line come from dictateErrorText; the
// dictation controller turns each case into its own pill.
class DictateError {
public:
    enum class Kind {
        rejected,      // the service refused the request, with its message
        server,        // an unexpected status code from the service
        notConfigured, // no backend is configured
        offline,       // no network path
        timeout,       // the time budget ran out
        limit,         // the account's usage limit is reached
        editFailed,    // a voice edit could not be carried out
    };

    static DictateError rejected(std::string message) {
        return DictateError(Kind::rejected, std::move(message), 0);
    }
    static DictateError server(int status) { return DictateError(Kind::server, {}, status); }
    static DictateError notConfigured() { return DictateError(Kind::notConfigured, {}, 0); }
    static DictateError offline() { return DictateError(Kind::offline, {}, 0); }
    static DictateError timeout() { return DictateError(Kind::timeout, {}, 0); }
    static DictateError limit() { return DictateError(Kind::limit, {}, 0); }
    static DictateError editFailed() { return DictateError(Kind::editFailed, {}, 0); }

    Kind kind() const { return m_kind; }
    // The service's message of a rejection; empty for the other cases.
    const std::string& message() const { return m_message; }
    // The status code of a server error; 0 for the other cases.
    int status() const { return m_status; }

    bool operator==(const DictateError&) const = default;

private:
    DictateError(Kind kind, std::string message, int status)
        : m_kind(kind), m_message(std::move(message)), m_status(status) {}

    Kind m_kind;
    std::string m_message;
    int m_status;
};

// What notConfigured stands for where the error is written down. The cloud client answers it
// both without a backend and without the user's consent, so it can only say "not configured";
// a dictation asks the cloud only when a backend is configured, so there it means that the
// consent is missing and says "no consent".
enum class NotConfiguredMeaning {
    notConfigured,
    noConsent,
};

// The words of an error in a log line: "rejected " and the service's message, "server " and
// the status, or the case's own words.
std::string dictateErrorText(const DictateError& error, NotConfiguredMeaning notConfigured);

} // namespace talverin
