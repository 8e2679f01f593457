#include "TalverinCloud/BackendUrl.h"

#include <algorithm>
#include <cctype>

namespace talverin {
namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isSubDelim(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

// Characters of the given kind and well-formed percent escapes, and nothing else.
template <typename Allowed> bool onlyAllowed(std::string_view text, Allowed allowed) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
                return false;
            i += 2;
        } else if (!allowed(text[i])) {
            return false;
        }
    }
    return true;
}

bool isPathChar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '/';
}

bool isQueryChar(char c) {
    return isPathChar(c) || c == '?';
}

bool isRegNameChar(char c) {
    return isUnreserved(c) || isSubDelim(c);
}

bool isUserInfoChar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':';
}

bool isIpLiteralChar(char c) {
    return isHex(c) || c == ':' || c == '.';
}

// A dotted quad whose first number is 127.
bool isLoopbackV4(std::string_view host) {
    int parts = 0;
    std::size_t at = 0;
    int first = -1;
    while (at <= host.size()) {
        const std::size_t end = std::min(host.find('.', at), host.size());
        const auto part = host.substr(at, end - at);
        if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), isDigit))
            return false;
        const int value = std::stoi(std::string(part));
        if (value > 255)
            return false;
        if (parts == 0)
            first = value;
        ++parts;
        at = end + 1;
        if (end == host.size())
            break;
    }
    return parts == 4 && first == 127;
}

} // namespace

std::optional<BackendUrl> BackendUrl::parse(std::string_view text) {
    BackendUrl url;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0]))
        return std::nullopt;
    for (char c : text.substr(0, colon))
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    for (char c : text.substr(0, colon))
        url.scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    std::string_view rest = text.substr(colon + 1);

    // The fragment and the query are checked, then set aside.
    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        if (!onlyAllowed(rest.substr(hash + 1), isQueryChar))
            return std::nullopt;
        rest = rest.substr(0, hash);
    }
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        if (!onlyAllowed(rest.substr(question + 1), isQueryChar))
            return std::nullopt;
        rest = rest.substr(0, question);
    }

    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = std::min(rest.find('/'), rest.size());
        std::string_view authority = rest.substr(0, slash);
        rest = rest.substr(slash);
        if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
            if (!onlyAllowed(authority.substr(0, at), isUserInfoChar))
                return std::nullopt;
            authority = authority.substr(at + 1);
        }
        std::string_view portText;
        if (authority.starts_with("[")) {
            const auto close = authority.find(']');
            if (close == std::string_view::npos)
                return std::nullopt;
            const auto literal = authority.substr(1, close - 1);
            if (literal.empty() || !std::all_of(literal.begin(), literal.end(), isIpLiteralChar))
                return std::nullopt;
            url.host = std::string(literal);
            const auto after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':')
                    return std::nullopt;
                portText = after.substr(1);
            }
        } else {
            const auto portColon = authority.rfind(':');
            const auto hostText = authority.substr(0, portColon);
            if (!onlyAllowed(hostText, isRegNameChar))
                return std::nullopt;
            url.host = std::string(hostText);
            if (portColon != std::string_view::npos)
                portText = authority.substr(portColon + 1);
        }
        if (!portText.empty()) {
            if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), isDigit))
                return std::nullopt;
            const int port = std::stoi(std::string(portText));
            if (port > 65535)
                return std::nullopt;
            url.port = port;
        }
    }
    if (!onlyAllowed(rest, isPathChar))
        return std::nullopt;
    url.path = std::string(rest);
    return url;
}

bool BackendUrl::isLoopback() const {
    std::string lower;
    for (char c : host)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return lower == "localhost" || lower == "::1" || isLoopbackV4(lower);
}

} // namespace talverin
