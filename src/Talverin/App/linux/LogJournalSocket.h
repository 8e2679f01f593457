#pragma once

#include "Talverin/App/LogJournal.h"

#include "Runtime/Result.h"

#include <memory>
#include <string>

namespace talverin {

enum class LogJournalError {
    noJournal, // nothing listens at the socket's path
    noSocket,  // the process could not make a socket
};

// The systemd journal through its native datagram socket: each line is one entry with the
// message, an informational priority and the program's identifier. No library is needed, and a
// journal that is gone or busy only loses lines.
class LogJournalSocket final : public LogJournal {
public:
    static constexpr const char* defaultPath = "/run/systemd/journal/socket";
    static constexpr const char* identifier = "talverin";

    // Fails, with the reason as its message, when no journal listens at `path`.
    static Result<std::shared_ptr<LogJournalSocket>, LogJournalError>
    open(const std::string& path = defaultPath);
    ~LogJournalSocket() override;

    void write(const std::string& line) override;

    // The datagram for one line, in the journal's native format.
    static std::string entry(const std::string& line);

private:
    struct Address;
    LogJournalSocket(int fd, std::unique_ptr<Address> address);

    int m_fd;
    std::unique_ptr<Address> m_address; // the journal's socket, worked out once
};

} // namespace talverin
