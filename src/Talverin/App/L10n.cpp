#include "Talverin/App/L10n.h"

#include "Runtime/PreferredLanguages.h"

#include <algorithm>
#include <cctype>

namespace talverin {

bool L10n::isRussian() {
    static const bool russian = isRussian(PreferredLanguages::current());
    return russian;
}

bool L10n::isRussian(const std::vector<std::string>& preferred) {
    std::string first = preferred.empty() ? std::string() : preferred.front();
    std::transform(first.begin(), first.end(), first.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return first.starts_with("ru");
}

} // namespace talverin
