#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talverin {

// A multipart/form-data body whose boundary never occurs inside a part.
class Multipart {
public:
    using Bytes = std::vector<std::uint8_t>;
    using UuidSource = std::function<std::string()>;

    struct Part {
        // The part's header lines, with the blank line that ends them.
        std::string header;
        Bytes data;
        bool operator==(const Part&) const = default;
    };

    // A boundary of "talverin-" and a new lower-case UUID from `uuids`.
    explicit Multipart(UuidSource uuids);

    // Appends a part; when any part's data holds the boundary, a new boundary is drawn until
    // none does.
    void add(std::string_view name, std::optional<std::string_view> filename,
             std::string_view contentType, Bytes data);

    const std::string& boundary() const { return m_boundary; }
    const std::vector<Part>& parts() const { return m_parts; }
    // The whole body.
    Bytes body() const;

private:
    std::string newBoundary() const;
    bool anyPartHolds(std::string_view boundary) const;

    UuidSource m_uuids;
    std::string m_boundary;
    std::vector<Part> m_parts;
};

} // namespace talverin
