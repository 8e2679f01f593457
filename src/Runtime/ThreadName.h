#pragma once

#include <string_view>

namespace talverin {

// Names the calling thread as debuggers, `top -H` and crash reports show it. Linux keeps at
// most 15 bytes of a name; a longer one is cut to that rather than refused.
void nameCurrentThread(std::string_view name);

} // namespace talverin
