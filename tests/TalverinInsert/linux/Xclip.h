#pragma once

#include "support/LinuxTestSupport.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>

namespace talverin::test {

// A program run on the test's display with the given input; its output is kept. `background`
// leaves it running (an owner of the clipboard) until stop().
class Program {
public:
    Program(const std::string& display, std::vector<std::string> args, const std::string& input,
            bool background) {
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> env{"DISPLAY=" + display};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "DISPLAY=", 8) != 0)
                env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        for (std::size_t at = 0; at < input.size();) {
            const ssize_t n = ::write(in[1], input.data() + at, input.size() - at);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        ::close(in[1]);
        m_out = out[0];
        if (!background)
            finish();
    }
    ~Program() { stop(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return m_pid; }
    const std::string& output() const { return m_output; }

    // Reads the output to its end and waits for the program.
    void finish() {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(m_out, buffer, sizeof(buffer));
            if (n <= 0)
                break;
            m_output.append(buffer, static_cast<std::size_t>(n));
        }
        wait();
    }
    void stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGCONT);
            ::kill(m_pid, SIGTERM);
        }
        wait();
    }

private:
    void wait() {
        if (m_pid > 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
        if (m_out >= 0)
            ::close(m_out);
        m_out = -1;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_output;
};

// Bytes that are no text: zeros and every byte value, in a pattern a truncation would break.
inline std::string imageBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

// xclip owns the clipboard of `display` with `data` as `target`; answers it once the server
// says so (the program is ended when the answer goes).
inline std::unique_ptr<Program> ownClipboard(const std::string& display, Display* driver,
                                             const std::string& target, const std::string& data) {
    const Atom clipboard = XInternAtom(driver, "CLIPBOARD", False);
    const Window before = XGetSelectionOwner(driver, clipboard);
    auto owner = std::make_unique<Program>(
        display,
        std::vector<std::string>{"xclip", "-quiet", "-selection", "clipboard", "-t", target, "-i"},
        data, true);
    const double deadline = monotonicNow() + 30;
    while (monotonicNow() < deadline) {
        const Window now = XGetSelectionOwner(driver, clipboard);
        if (now != None && now != before)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return owner;
}

// Reads the clipboard of `display` as another application would.
inline std::string pasteClipboard(const std::string& display, const std::string& target) {
    Program reader(display, {"xclip", "-o", "-selection", "clipboard", "-t", target}, "", false);
    return reader.output();
}

} // namespace talverin::test
