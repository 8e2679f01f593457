#pragma once

#include "../AudioTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace talverin::test {

// Runs a shell command; answers its exit status.
inline int shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The first line a shell command prints.
inline std::string shellLine(const std::string& command) {
    std::string line;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        if (std::fgets(buffer, sizeof buffer, pipe))
            line = buffer;
        pclose(pipe);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

inline bool haveProgram(const std::string& name) {
    return shell("command -v " + name + " >/dev/null 2>&1") == 0;
}

inline bool serverRuns() {
    return shell("pactl info >/dev/null 2>&1") == 0;
}

// How long a test waits for something that comes at once on an idle machine. Generous: it
// costs nothing when things go well, and a loaded machine may be slow by seconds.
inline constexpr double patience = 30;

// Polls `done` every 5 ms for up to `seconds`; answers whether it came true.
inline bool waitFor(const std::function<bool()>& done, double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Spoken words as a 16-bit WAV file at 16 kHz mono, made with espeak-ng and sox in `folder`.
inline std::filesystem::path makeSpeech(const std::filesystem::path& folder,
                                        const std::string& words) {
    auto raw = folder / "speech-raw.wav";
    auto wav = folder / "speech.wav";
    std::string command = "espeak-ng -w '" + raw.string() + "' '" + words + "' && sox '" +
                          raw.string() + "' -r 16000 -c 1 -b 16 '" + wav.string() + "'";
    EXPECT_EQ(shell(command + " >/dev/null 2>&1"), 0) << command;
    return wav;
}

} // namespace talverin::test
