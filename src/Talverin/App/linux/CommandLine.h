#pragma once

#include "Talverin/App/ProcessEntry.h"

#include <cstdint>
#include <string>

namespace talverin::CommandLine {

// Runs a command-line mode on the main loop and answers its exit code. The log goes to
// standard error, the result to standard output; no display, bus or sound server is touched,
// so the modes work on a machine with none of them. `ownIdentifier` is the identifier the
// program was built with.
std::int32_t run(const ProcessEntry::Choice& choice, const std::string& ownIdentifier);

} // namespace talverin::CommandLine
