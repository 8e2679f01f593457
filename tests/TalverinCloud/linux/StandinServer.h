#pragma once

// The backend stand-in (scripts/backend-standin) as a child of the test, a small blocking
// client for its control paths, and a real-time pump for the virtual world, so that the
// libcurl transport's threads and the client's timers meet on one clock.

#include "Runtime/Future.h"
#include "Runtime/VirtualWorld.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace talverin::test {

inline std::filesystem::path sourceRoot() {
    std::filesystem::path file(__FILE__);
    // A compiler cache may hand the compiler paths relative to the build tree, which holds
    // this test program in its tests/ folder.
    if (file.is_relative())
        file = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / file;
    return file.parent_path().parent_path().parent_path().parent_path();
}

class StandinServer {
public:
    explicit StandinServer(std::string key = "standin-key", double expiresIn = 3600)
        : m_key(std::move(key)) {
        int out[2];
        if (pipe(out) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string script = (sourceRoot() / "scripts" / "backend-standin").string();
        const std::string expires = std::to_string(expiresIn);
        std::vector<std::string> args = {"python3",      script,  "--key",      m_key,
                                         "--expires-in", expires, "--lifetime", "180"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, "python3", &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        pollfd fd{out[0], POLLIN, 0};
        while (m_pid > 0 && line.find('\n') == std::string::npos && poll(&fd, 1, 15000) > 0) {
            char buffer[64];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            line.append(buffer, static_cast<std::size_t>(n));
        }
        close(out[0]);
        if (line.rfind("PORT ", 0) == 0)
            m_port = std::stoi(line.substr(5));
        if (m_port == 0)
            ADD_FAILURE() << "the stand-in did not start: " << line;
    }
    ~StandinServer() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    StandinServer(const StandinServer&) = delete;
    StandinServer& operator=(const StandinServer&) = delete;

    int port() const { return m_port; }
    const std::string& key() const { return m_key; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    // One request on a connection of its own; the answer's body.
    std::string control(const std::string& method, const std::string& path,
                        const std::string& body = {}) const {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(m_port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            ADD_FAILURE() << "cannot reach the stand-in";
            return {};
        }
        const std::string request =
            method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
            "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
            body;
        (void)!write(fd, request.data(), request.size());
        std::string answer;
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, static_cast<std::size_t>(n));
        close(fd);
        const auto split = answer.find("\r\n\r\n");
        return split == std::string::npos ? std::string() : answer.substr(split + 4);
    }

    void script(const nlohmann::json& answers) const {
        control("POST", "/_standin/script", answers.dump());
    }
    nlohmann::json stats() const {
        return nlohmann::json::parse(control("GET", "/_standin/stats"), nullptr, false);
    }
    int calls(const std::string& key) const { return stats()["calls"].value(key, 0); }

private:
    std::string m_key;
    pid_t m_pid = -1;
    int m_port = 0;
};

// Runs the virtual world in step with real time until `done` answers true; false when
// `seconds` pass first.
template <typename Done> bool pumpUntil(VirtualWorld& world, Done done, double seconds) {
    using namespace std::chrono;
    const auto start = steady_clock::now();
    double moved = 0;
    for (;;) {
        world.runReady();
        if (done())
            return true;
        const double elapsed = duration<double>(steady_clock::now() - start).count();
        if (elapsed > seconds)
            return false;
        std::this_thread::sleep_for(milliseconds(2));
        world.advance(elapsed - moved);
        moved = elapsed;
    }
}

template <typename T>
std::optional<T> waitFor(VirtualWorld& world, const Future<T>& future, double seconds = 20) {
    if (!pumpUntil(
            world, [&] { return future.isReady(); }, seconds))
        return std::nullopt;
    return future.peek();
}

} // namespace talverin::test
