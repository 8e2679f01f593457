#pragma once

#include <optional>
#include <string_view>

namespace talverin {

// Keeps a page on its own scheme: ordinary links go to the user's browser or mail program,
// everything else is refused. The same decision serves navigations and new windows.
namespace LinkPolicy {

enum class Decision {
    allow,          // our own scheme: the page may go there
    openExternally, // http, https, mailto: opened outside, the page stays
    cancel,         // anything else, a URL without a scheme, or none
};

Decision decision(std::optional<std::string_view> url);

} // namespace LinkPolicy

} // namespace talverin
