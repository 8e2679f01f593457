#include "Talverin/Web/LinkPolicy.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace talverin::LinkPolicy {

Decision decision(std::optional<std::string_view> url) {
    if (!url)
        return Decision::cancel;
    // A scheme is a letter followed by letters, digits, "+", "-" or ".", ended by ":".
    const auto colon = url->find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>((*url)[0])))
        return Decision::cancel;
    std::string scheme(url->substr(0, colon));
    for (char& c : scheme) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '+' && c != '-' && c != '.')
            return Decision::cancel;
        c = static_cast<char>(std::tolower(u));
    }
    if (scheme == "tlv-app")
        return Decision::allow;
    if (scheme == "http" || scheme == "https" || scheme == "mailto")
        return Decision::openExternally;
    return Decision::cancel;
}

} // namespace talverin::LinkPolicy
