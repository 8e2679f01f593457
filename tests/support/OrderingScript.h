#pragma once

#include <string>
#include <vector>

namespace talverin::test {

// Schedules a fixed mix of posts and timers, some made from inside other jobs, on the
// installed event loop. Every event loop must run them in the order of `expectedOrder()`.
void scheduleOrderingScript(std::vector<std::string>& trace);
std::vector<std::string> expectedOrder();

} // namespace talverin::test
