#pragma once

#include "TalverinAudio/linux/PulseConnection.h"
#include "TalverinInput/linux/MicrophoneAccessPulse.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin::test {

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value, 1);
    }
    ~ScopedVariable() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A PulseAudio server of the test's own on a loopback port: one that wants a cookie the client
// does not have refuses it with an access error, one that is stopped (SIGSTOP) still takes the
// connection into the kernel's backlog but never answers.
class PrivateSoundServer {
public:
    enum class Access { cookie, anyone };

    explicit PrivateSoundServer(Access access) {
        m_port = freePort();
        if (m_port == 0)
            return;
        const std::string base = m_dir.path().string();
        std::vector<std::string> environment = {
            "HOME=" + base + "/server-home", "XDG_RUNTIME_DIR=" + base + "/server-xdg",
            "XDG_CONFIG_HOME=" + base + "/server-config", "PULSE_RUNTIME_PATH=" + base + "/run",
            std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin")};
        const std::string module =
            "module-native-protocol-tcp listen=127.0.0.1 port=" + std::to_string(m_port) +
            (access == Access::anyone ? " auth-anonymous=1"
                                      : " auth-anonymous=0 auth-cookie=" + base + "/cookie");
        std::vector<std::string> arguments = {"pulseaudio",
                                              "-n",
                                              "--daemonize=no",
                                              "--exit-idle-time=-1",
                                              "--disallow-exit",
                                              "--use-pid-file=no",
                                              "--log-target=file:" + base + "/pa.log",
                                              "--load=" + module};
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_pid, "pulseaudio", &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~PrivateSoundServer() { stop(); }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool started() const { return m_pid > 0; }
    std::string address() const { return "tcp:127.0.0.1:" + std::to_string(m_port); }
    // Waits until the server answers a connection, whatever it answers.
    bool waitUntilListening(double seconds = 30) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        while (std::chrono::steady_clock::now() < deadline) {
            if (MicrophoneAccessPulse::probe(5.0) != Wire::PermissionState::notDetermined)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void pause() { ::kill(m_pid, SIGSTOP); }
    void resume() { ::kill(m_pid, SIGCONT); }
    void stop() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (fd >= 0)
            ::close(fd);
        return port;
    }

    test::TempDir m_dir;
    int m_port = 0;
    pid_t m_pid = -1;
};

// The microphone check over a connection of its own, as the application wires it.
inline MicrophoneAccessPulse::LinkReader linkOf(std::shared_ptr<PulseConnection> connection) {
    return [connection](double seconds) {
        if (seconds > 0)
            connection->waitReady(PulseConnection::deadlineIn(seconds));
        const PulseConnection::ServerStatus status = connection->status();
        return MicrophoneAccessPulse::Link{status.ready, status.error, status.unanswered};
    };
}

} // namespace talverin::test
