#include "Talverin/Web/BundleSchemeHandler.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace talverin {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent-decoding. A malformed escape or an encoded NUL makes the whole path unusable: a
// NUL would cut the name short when it reaches the C library.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0')
            return std::nullopt;
        decoded.push_back(c);
    }
    return decoded;
}

// True when `path` is `folder` itself or lies below it; both are real paths.
bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    const std::string prefix = folder.string() + (folder == folder.root_path() ? "" : "/");
    const std::string name = path.string();
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0;
}

// The real path of a folder, links resolved, or nothing when it does not exist.
std::optional<std::filesystem::path> realFolder(const std::filesystem::path& folder) {
    std::error_code error;
    auto real = std::filesystem::canonical(folder, error);
    if (error)
        return std::nullopt;
    return real;
}

} // namespace

BundleSchemeHandler::BundleSchemeHandler(std::filesystem::path root,
                                         std::optional<std::filesystem::path> resources)
    : m_root(std::filesystem::absolute(root).lexically_normal()), m_resources(std::move(resources)) {
    // "web/" normalises to "web/" with an empty last part; the prefix check wants "web".
    if (!m_root.has_filename() && m_root.has_parent_path() && m_root != m_root.root_path())
        m_root = m_root.parent_path();
}

std::optional<std::filesystem::path>
BundleSchemeHandler::resolve(std::string_view encodedPath) const {
    auto path = percentDecoded(encodedPath);
    if (!path)
        return std::nullopt;
    if (path->empty() || *path == "/")
        *path = "/index.html";
    // The first character is the path's own slash; whatever follows is relative to the root.
    const std::filesystem::path file = (m_root / path->substr(1)).lexically_normal();
    const std::string prefix = m_root.string() + "/";
    const std::string name = file.string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return file;
}

// The lexical check keeps a request inside the web folder's name; a link inside the folder may
// still lead anywhere. The folders are resolved at every request, as the file is: the bundle
// may be replaced while the program runs, and a folder's real path read once would go stale.
std::optional<std::filesystem::path>
BundleSchemeHandler::servedFile(const std::filesystem::path& file) const {
    std::error_code error;
    const auto real = std::filesystem::canonical(file, error);
    if (error)
        return std::nullopt;
    const auto root = realFolder(m_root);
    if (!root)
        return std::nullopt;
    if (isInside(real, *root))
        return real;
    const auto resources = realFolder(m_resources.value_or(root->parent_path()));
    if (resources && isInside(real, *resources))
        return real;
    return std::nullopt;
}

Result<BundleSchemeHandler::Response, BundleSchemeHandler::Failure>
BundleSchemeHandler::respond(std::string_view encodedPath) const {
    auto named = resolve(encodedPath);
    auto file = named ? servedFile(*named) : std::nullopt;
    std::error_code error;
    if (!file || !std::filesystem::is_regular_file(*file, error))
        return fail(Failure::fileDoesNotExist);
    std::ifstream stream(*file, std::ios::binary);
    if (!stream)
        return fail(Failure::fileDoesNotExist);
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    if (stream.bad())
        return fail(Failure::fileDoesNotExist);
    Response response;
    // The type follows the name the page asked for, not the name a link leads to.
    std::string extension = named->extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    response.mimeType = mime(extension);
    response.body = std::move(bytes).str();
    response.headers = {{"Content-Type", response.mimeType},
                        {"Content-Length", std::to_string(response.body.size())},
                        {"Cache-Control", "no-cache"}};
    return response;
}

std::string BundleSchemeHandler::mime(std::string_view extension) {
    std::string lower(extension);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::pair<std::string_view, std::string_view> types[] = {
        {"html", "text/html; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"},
        {"mjs", "text/javascript; charset=utf-8"},
        {"css", "text/css; charset=utf-8"},
        {"json", "application/json"},
        {"svg", "image/svg+xml"},
        {"png", "image/png"},
        {"webp", "image/webp"},
        {"woff2", "font/woff2"},
        {"woff", "font/woff"},
        {"wav", "audio/wav"},
    };
    for (const auto& [ext, type] : types) {
        if (lower == ext)
            return std::string(type);
    }
    return "application/octet-stream";
}

} // namespace talverin
