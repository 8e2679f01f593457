#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
// The test program's own leak settings (support/SanitizerDefaults.cpp), when it has them.
extern "C" const char* __lsan_default_options() __attribute__((weak));
extern "C" const char* __ubsan_default_options() __attribute__((weak));

namespace talverin::test {

// The application binary of this build tree, started as a process of its own in a private
// home and XDG folders, with the environment of the test changed where a test says so. Its
// log file is where the test reads what it did.
class AppProcess {
public:
    // The talverin program beside the tests of this build.
    static std::filesystem::path binary() {
        auto tests = std::filesystem::read_symlink("/proc/self/exe").parent_path();
        return tests.parent_path() / "src" / "Talverin" / "App" / "talverin";
    }

    // `changes`: a value sets the variable, none removes it. `program` is the build tree's
    // binary unless a test runs an installed copy.
    explicit AppProcess(const TempDir& dir,
                        std::map<std::string, std::optional<std::string>> changes = {},
                        const std::filesystem::path& program = binary())
        : m_log(dir.stateHome() / "Talverin" / "Talverin.log") {
        changes["HOME"] = dir.home().string();
        changes["XDG_CONFIG_HOME"] = dir.configHome().string();
        changes["XDG_DATA_HOME"] = dir.dataHome().string();
        changes["XDG_STATE_HOME"] = dir.stateHome().string();
        // A sanitizer build of the application reports the memory GLib and GTK keep for the
        // life of the process as the tests do: not at all.
        if (__lsan_default_options && !changes.contains("LSAN_OPTIONS"))
            changes["LSAN_OPTIONS"] = std::string(__lsan_default_options());
        if (__ubsan_default_options && !changes.contains("UBSAN_OPTIONS"))
            changes["UBSAN_OPTIONS"] = std::string(__ubsan_default_options());
        std::vector<std::string> entries;
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            if (!changes.contains(entry.substr(0, entry.find('='))))
                entries.push_back(entry);
        }
        for (const auto& [name, value] : changes)
            if (value)
                entries.push_back(name + "=" + *value);
        std::vector<char*> envp;
        for (auto& entry : entries)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        const std::string path = program.string();
        m_pid = fork();
        if (m_pid == 0) {
            char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
            execve(path.c_str(), argv, envp.data());
            _exit(127);
        }
    }
    ~AppProcess() {
        if (m_pid > 0 && !m_status) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    std::string log() const {
        std::error_code error;
        if (!std::filesystem::exists(m_log, error))
            return {};
        return readFile(m_log);
    }
    bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }

    // Waits until the log holds `text`; false when the process ended first or after `limit`.
    bool waitForLog(const std::string& text, double limit = 90) {
        return waitFor([&] { return logHas(text); }, limit);
    }

    // The whole first line at or after byte `from` of the log that holds `text`, once there is
    // one; none when the process ended first or after `limit`. A test notes log().size()
    // before an action and waits for what the action writes.
    std::optional<std::string> waitForLine(const std::string& text, std::size_t from,
                                           double limit = 90) {
        std::optional<std::string> found;
        waitFor(
            [&] {
                const std::string all = log();
                if (from > all.size())
                    return false;
                const auto at = all.find(text, from);
                if (at == std::string::npos)
                    return false;
                const auto end = all.find('\n', at);
                if (end == std::string::npos)
                    return false;
                const auto newline = all.rfind('\n', at);
                const auto begin = newline == std::string::npos ? 0 : newline + 1;
                found = all.substr(begin, end - begin);
                return true;
            },
            limit);
        return found;
    }

    pid_t pid() const { return m_pid; }
    void signal(int number) { kill(m_pid, number); }

    // The exit code once the process has ended on its own, within `limit`; none otherwise.
    std::optional<int> waitForExit(double limit = 90) {
        waitFor([] { return false; }, limit);
        if (!m_status || !WIFEXITED(*m_status))
            return std::nullopt;
        return WEXITSTATUS(*m_status);
    }

private:
    // Checks `done` and whether the process still runs, in short steps, until either answers.
    template <typename Done> bool waitFor(Done done, double limit) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
        while (std::chrono::steady_clock::now() < end) {
            if (done())
                return true;
            if (!m_status) {
                int status = 0;
                if (waitpid(m_pid, &status, WNOHANG) == m_pid)
                    m_status = status;
            }
            if (m_status)
                return done();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::filesystem::path m_log;
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

} // namespace talverin::test
