#pragma once

#include "support/LinuxTestSupport.h"

#include <string>
#include <vector>
#include <cstring>

#include <limits.h>

namespace talverin::test {

// The GTK3 text fixture (tests/fixtures/TextFixtureApp.cpp) running on a test's display, its
// output read line by line. Ends the application when it goes.
class TextFixture {
public:
    // `focus` is "entry", "password" or "view"; `initial` is put into the entry and the view;
    // `selection` ("from:to", in characters) is selected in the focused widget instead of
    // placing the caret at the end; `windowClass`, when given, is the window's WM_CLASS class.
    TextFixture(const std::string& display, const std::string& focus,
                const std::string& initial = {}, const std::string& selection = {},
                const std::string& windowClass = {}) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        const std::string program = besideThisTest("TalverinTextFixture");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<std::string> env{"DISPLAY=" + display, "GDK_BACKEND=x11"};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "GDK_BACKEND=", 12) != 0)
                env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> args{program};
        // The toolkit takes this option out of the arguments itself.
        if (!windowClass.empty())
            args.push_back("--class=" + windowClass);
        args.push_back(focus);
        if (!initial.empty() || !selection.empty())
            args.push_back(initial);
        if (!selection.empty())
            args.push_back(selection);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~TextFixture() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGCONT);
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }
    TextFixture(const TextFixture&) = delete;
    TextFixture& operator=(const TextFixture&) = delete;

    pid_t pid() const { return m_pid; }

    // Reads lines until one equals `line`; false when none did within `seconds`.
    bool waitFor(const std::string& line, double seconds = 30) {
        const double deadline = monotonicNow() + seconds;
        for (;;) {
            for (; m_next < m_lines.size(); ++m_next)
                if (m_lines[m_next] == line) {
                    ++m_next;
                    return true;
                }
            const double left = deadline - monotonicNow();
            if (left <= 0 || !readMore(left))
                return false;
        }
    }
    // Every line printed so far.
    const std::vector<std::string>& lines() const { return m_lines; }

    static std::string besideThisTest(const std::string& name) {
        char path[PATH_MAX] = {};
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
        std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
        return self.substr(0, self.rfind('/') + 1) + name;
    }

private:
    bool readMore(double seconds) {
        pollfd readable{m_out, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(seconds * 1000) + 1) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(m_out, buffer, sizeof(buffer));
        if (n <= 0)
            return false;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                m_lines.push_back(m_partial);
                m_partial.clear();
            } else {
                m_partial.push_back(buffer[i]);
            }
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_partial;
    std::vector<std::string> m_lines;
    std::size_t m_next = 0;
};

} // namespace talverin::test
