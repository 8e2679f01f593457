#pragma once

#include "Runtime/Result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talverin {

// Serves the web folder under the private scheme "tlv-app", so the pages never touch the
// network or the file scheme. This is the part that decides what a request gets; the web view
// backend only hands WebKit the answer.
class BundleSchemeHandler {
public:
    enum class Failure {
        badURL,           // the request had no URL
        fileDoesNotExist, // outside the web folder, a folder, missing or unreadable
    };

    struct Response {
        std::string mimeType;
        std::string body;
        // "Content-Type", "Content-Length" and "Cache-Control", in that order.
        std::vector<std::pair<std::string, std::string>> headers;
    };

    // `root` is the web folder; it is made absolute and normalised here.
    explicit BundleSchemeHandler(std::filesystem::path root);

    const std::filesystem::path& root() const { return m_root; }

    // The file a request path names, still percent-encoded as it arrives: "" and "/" mean
    // "/index.html". Nothing when the path does not decode or leaves the web folder. Opens
    // no file.
    std::optional<std::filesystem::path> resolve(std::string_view encodedPath) const;
    // Reads the whole file a request path names. Any thread.
    Result<Response, Failure> respond(std::string_view encodedPath) const;

    // The MIME type of a file extension (without the dot), whatever its case.
    static std::string mime(std::string_view extension);

private:
    std::filesystem::path m_root;
};

} // namespace talverin
