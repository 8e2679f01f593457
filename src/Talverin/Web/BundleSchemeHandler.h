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

    // `root` is the web folder; it is made absolute and normalised here. A file is served only
    // when its real path, links resolved, lies inside the real web folder or inside
    // `resources`; without `resources`, the folder that really holds the web folder (the
    // bundle's resources, whose fonts the pages reach through a link).
    explicit BundleSchemeHandler(std::filesystem::path root,
                                 std::optional<std::filesystem::path> resources = std::nullopt);

    const std::filesystem::path& root() const { return m_root; }

    // The file a request path names, still percent-encoded as it arrives: "" and "/" mean
    // "/index.html". Nothing when the path does not decode or leaves the web folder. Opens
    // no file.
    std::optional<std::filesystem::path> resolve(std::string_view encodedPath) const;
    // Reads the whole file a request path names, when its real path is one the handler serves.
    // Any thread.
    Result<Response, Failure> respond(std::string_view encodedPath) const;

    // The MIME type of a file extension (without the dot), whatever its case.
    static std::string mime(std::string_view extension);

private:
    // The real path of a file the request names, when it lies inside a served folder.
    std::optional<std::filesystem::path> servedFile(const std::filesystem::path& file) const;

    std::filesystem::path m_root;
    std::optional<std::filesystem::path> m_resources;
};

} // namespace talverin
