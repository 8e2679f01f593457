// Feeds arbitrary request paths to the page scheme's path check. Whatever it accepts must lie
// strictly inside the web folder once normalised, and must never hold a NUL.
#include "Talverin/Web/BundleSchemeHandler.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const talverin::BundleSchemeHandler handler("/srv/talverin/web");
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    const auto file = handler.resolve(path);
    if (!file)
        return 0;
    const std::string name = file->string();
    const std::string prefix = "/srv/talverin/web/";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        std::abort();
    if (name.find('\0') != std::string::npos || file->lexically_normal() != *file)
        std::abort();
    for (const auto& part : *file) {
        if (part == "..")
            std::abort();
    }
    return 0;
}
