// Feeds arbitrary bytes to the defaults file parser, the one the store uses at load. Whatever
// it accepts must be an object that survives being written and read back unchanged, since the
// store writes every loaded value out again on the next change.
#include "Runtime/DefaultsStore.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using talverin::DefaultsStoreFile;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto parsed = DefaultsStoreFile::parse(bytes);
    if (!parsed.ok()) {
        if (parsed.message().empty())
            std::abort();
        return 0;
    }
    if (!parsed->is_object())
        std::abort();
    const std::string written =
        parsed->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const auto reread = DefaultsStoreFile::parse(written);
    if (!reread.ok() || *reread != *parsed)
        std::abort();
    return 0;
}
