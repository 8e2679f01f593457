#include "TalverinCloud/Multipart.h"

#include <algorithm>

namespace talverin {

Multipart::Multipart(UuidSource uuids) : m_uuids(std::move(uuids)), m_boundary(newBoundary()) {}

std::string Multipart::newBoundary() const {
    return "talverin-" + m_uuids();
}

void Multipart::add(std::string_view name, std::optional<std::string_view> filename,
                    std::string_view contentType, Bytes data) {
    std::string header = "Content-Disposition: form-data; name=\"" + std::string(name) + "\"";
    if (filename)
        header += "; filename=\"" + std::string(*filename) + "\"";
    header += "\r\nContent-Type: " + std::string(contentType) + "\r\n\r\n";
    m_parts.push_back({std::move(header), std::move(data)});
    while (anyPartHolds(m_boundary))
        m_boundary = newBoundary();
}

bool Multipart::anyPartHolds(std::string_view boundary) const {
    return std::any_of(m_parts.begin(), m_parts.end(), [&](const Part& part) {
        return std::search(part.data.begin(), part.data.end(), boundary.begin(), boundary.end()) !=
               part.data.end();
    });
}

Multipart::Bytes Multipart::body() const {
    Bytes out;
    const auto append = [&out](std::string_view text) {
        out.insert(out.end(), text.begin(), text.end());
    };
    for (const auto& part : m_parts) {
        append("--");
        append(m_boundary);
        append("\r\n");
        append(part.header);
        out.insert(out.end(), part.data.begin(), part.data.end());
        append("\r\n");
    }
    append("--");
    append(m_boundary);
    append("--\r\n");
    return out;
}

} // namespace talverin
