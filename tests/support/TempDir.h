#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talverin::test {

// A fresh folder for one test, removed again afterwards. While it lives, HOME and the XDG base
// folders point inside it, so nothing a test runs can reach the user's real files. The XDG
// folders are named but not created: code under test must create what it needs.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path home() const { return m_path / "home"; }
    std::filesystem::path configHome() const { return m_path / "config"; }
    std::filesystem::path dataHome() const { return m_path / "data"; }
    std::filesystem::path stateHome() const { return m_path / "state"; }

private:
    void setVariable(const char* name, const std::filesystem::path& value);

    std::filesystem::path m_path;
    // The variables as they were before, restored by the destructor.
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// Whole-file helpers that fail the current test instead of returning an error.
std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, std::string_view bytes);
// The permission bits of a file or folder, such as 0600.
unsigned permissions(const std::filesystem::path& path);

} // namespace talverin::test
