#pragma once

#include <string_view>

namespace talverin {

// The log of last resort, for lines written before a log file exists or when there is none.
namespace StandardError {

// Any thread. Writes every byte in one system call where the system allows, so that lines of
// several threads do not mix, going on after interrupted and partial writes. A failure drops
// the text: there is nowhere left to report it. Leaves errno as it was, since the caller may be
// about to report it.
void write(std::string_view text);

} // namespace StandardError

} // namespace talverin
