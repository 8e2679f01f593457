#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// The parts of an absolute URL that the backend client needs. Parsing follows RFC 3986 and is
// strict: a text with a character that has no place in a URL (a space, a quote, anything
// outside ASCII) is no URL at all.
struct BackendUrl {
    // In lower case.
    std::string scheme;
    // As written, without the brackets of an IPv6 address; empty when the URL has none.
    std::string host;
    // The port the URL names, when it names one.
    std::optional<int> port;
    // The path as written (percent escapes kept); empty when the URL has none.
    std::string path;

    static std::optional<BackendUrl> parse(std::string_view text);

    // localhost, 127.0.0.0/8 or ::1: traffic that never leaves the machine.
    bool isLoopback() const;

    bool operator==(const BackendUrl&) const = default;
};

} // namespace talverin
