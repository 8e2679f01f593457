#pragma once

#include <filesystem>

namespace talverin::test {

// The fixture pages in tests/fixtures/web, found from this header's own path.
inline std::filesystem::path fixtureWeb() {
    std::filesystem::path file(__FILE__);
    // A compiler cache may hand the compiler paths relative to the build tree, which holds
    // the test programs in its tests/ folder.
    if (file.is_relative())
        file = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / file;
    return file.parent_path().parent_path().parent_path() / "fixtures" / "web";
}

} // namespace talverin::test
