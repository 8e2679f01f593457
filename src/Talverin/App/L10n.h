#pragma once

#include <string>
#include <vector>

namespace talverin {

// The language of the shell's own texts (menus, the pages' language field): Russian or English.
class L10n {
public:
    L10n() = delete;

    // True when the user's first preferred language is Russian. Read once per process: a change
    // of the desktop's language takes effect at the next launch.
    static bool isRussian();
    // The same rule over a given list, most preferred first: the first entry, lower-cased,
    // begins with "ru"; an empty list is English.
    static bool isRussian(const std::vector<std::string>& preferred);
};

} // namespace talverin
