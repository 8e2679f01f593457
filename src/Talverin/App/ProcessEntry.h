#pragma once

#include "Talverin/App/SelfTest.h"

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace talverin {

class Bundle;

// What the command line asks of the process: one of three command-line modes, which print
// their result and end with an exit code, or the normal application.
namespace ProcessEntry {

enum class Mode {
    selfTest,   // "--selftest" anywhere
    pillStates, // "--pill-states" [folder]
    menuIcon,   // "--menu-icon" path
    normal,
};

struct Choice {
    Mode mode = Mode::normal;
    // The pill images' folder or the icon's file, made absolute.
    std::filesystem::path path;
    // That value as the command line gave it, for the line the mode prints.
    std::string given;
    bool operator==(const Choice&) const = default;
};

// The arguments after the program's path; options are matched exactly. The self-test wins
// wherever it stands, then the first "--pill-states", then the first "--menu-icon" that is
// followed by a path. A value that begins with "--" is another option, not a path.
Choice choose(const std::vector<std::string>& arguments,
              const std::filesystem::path& currentFolder);

// Runs a command-line mode, printing its lines to `out`; answers the exit code. Not for
// Mode::normal.
std::int32_t run(const Choice& choice, const Bundle& bundle, const SelfTest::Probes& probes,
                 std::ostream& out);

} // namespace ProcessEntry

} // namespace talverin
