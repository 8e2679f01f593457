#pragma once

#include <string>

namespace talverin {

// A fresh random (version 4) UUID as 36 lower-case characters, such as
// "1b4e28ba-2fa1-41d2-883f-0016d3cca427".
std::string newUuid();

} // namespace talverin
