#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace talverin::test {

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path base = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
    std::string pattern = (base / "talverin-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
        return;
    }
    m_path = pattern;
    std::filesystem::create_directory(home());
    setVariable("HOME", home());
    setVariable("XDG_CONFIG_HOME", configHome());
    setVariable("XDG_DATA_HOME", dataHome());
    setVariable("XDG_STATE_HOME", stateHome());
    setVariable("XDG_CACHE_HOME", m_path / "cache");
}

TempDir::~TempDir() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

void TempDir::setVariable(const char* name, const std::filesystem::path& value) {
    const char* previous = std::getenv(name);
    m_saved.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << file;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << "cannot write " << file;
}

unsigned permissions(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

} // namespace talverin::test
