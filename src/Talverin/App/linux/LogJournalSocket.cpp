#include "Talverin/App/linux/LogJournalSocket.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace talverin {

namespace {

bool addressFor(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// A field whose value may hold a line break is written as its name, a line break, the value's
// length as 64 bits little-endian, the value and a line break.
void appendField(std::string& entry, const char* name, const std::string& value) {
    if (value.find('\n') == std::string::npos) {
        entry += std::string(name) + "=" + value + "\n";
        return;
    }
    entry += std::string(name) + "\n";
    std::uint64_t size = value.size();
    for (int i = 0; i < 8; ++i)
        entry.push_back(static_cast<char>((size >> (8 * i)) & 0xff));
    entry += value + "\n";
}

} // namespace

struct LogJournalSocket::Address {
    sockaddr_un address;
};

LogJournalSocket::LogJournalSocket(int fd, std::unique_ptr<Address> address)
    : m_fd(fd), m_address(std::move(address)) {}

Result<std::shared_ptr<LogJournalSocket>, LogJournalError>
LogJournalSocket::open(const std::string& path) {
    auto address = std::make_unique<Address>();
    if (!addressFor(path, address->address))
        return fail(LogJournalError::noJournal, "no journal socket path");
    if (::access(path.c_str(), W_OK) != 0)
        return fail(LogJournalError::noJournal,
                    "no journal running (" + path + ": " + std::strerror(errno) + ")");
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(LogJournalError::noSocket,
                    std::string("no journal socket (") + std::strerror(errno) + ")");
    return std::shared_ptr<LogJournalSocket>(new LogJournalSocket(fd, std::move(address)));
}

LogJournalSocket::~LogJournalSocket() { ::close(m_fd); }

std::string LogJournalSocket::entry(const std::string& line) {
    std::string entry;
    appendField(entry, "MESSAGE", line);
    appendField(entry, "PRIORITY", "6");
    appendField(entry, "SYSLOG_IDENTIFIER", identifier);
    return entry;
}

void LogJournalSocket::write(const std::string& line) {
    const std::string datagram = entry(line);
    // Never waits: a journal that cannot take the entry now loses it.
    (void)::sendto(m_fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&m_address->address),
                   sizeof m_address->address);
}

} // namespace talverin
