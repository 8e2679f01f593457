#include "Talverin/App/linux/LogJournalSocket.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace talverin {
namespace {

// A stand-in for the journal: a datagram socket bound where the journal's would be.
class FakeJournalSocket {
public:
    explicit FakeJournalSocket(const std::string& path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), path.size());
        bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~FakeJournalSocket() { ::close(m_fd); }
    // The datagram already sent: the sender never waits, so it is there or lost.
    std::string take() {
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    bool bound = false;

private:
    int m_fd = -1;
};

TEST(LogJournalSocketTest, EachLineIsOneEntryWithItsPriorityAndIdentifier) {
    test::TempDir dir;
    const std::string path = (dir.path() / "journal.socket").string();
    FakeJournalSocket journal(path);
    ASSERT_TRUE(journal.bound);
    auto socket = LogJournalSocket::open(path);
    ASSERT_TRUE(socket.ok()) << socket.message();
    (*socket)->write("Talverin quit");
    EXPECT_EQ(journal.take(), "MESSAGE=Talverin quit\nPRIORITY=6\nSYSLOG_IDENTIFIER=talverin\n");
    // A line break cannot end the field early: the value goes with its length.
    (*socket)->write("a\nPRIORITY=0");
    const std::string length{'\x0c', 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(journal.take(), "MESSAGE\n" + length + "a\nPRIORITY=0\n" +
                                  "PRIORITY=6\nSYSLOG_IDENTIFIER=talverin\n");
}

TEST(LogJournalSocketTest, WithoutAJournalThereIsNoSocketAndAGoneJournalLosesLines) {
    test::TempDir dir;
    const std::string path = (dir.path() / "journal.socket").string();
    const auto absent = LogJournalSocket::open(path);
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.error(), LogJournalError::noJournal);
    EXPECT_NE(absent.message().find("no journal running"), std::string::npos);

    auto journal = std::make_unique<FakeJournalSocket>(path);
    auto socket = LogJournalSocket::open(path);
    ASSERT_TRUE(socket.ok());
    journal.reset();
    ::unlink(path.c_str());
    (*socket)->write("nobody listens"); // neither blocks nor fails the caller
}

} // namespace
} // namespace talverin
