#include "Runtime/Bundle.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace talverin {
namespace {

constexpr const char* infoFile = "Info.json";
constexpr const char* bundleFolder = "share/talverin";

} // namespace

Result<Bundle, BundleError> Bundle::load(std::filesystem::path folder) {
    const auto file = folder / infoFile;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return fail(BundleError::NotFound, file.string());
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        return fail(BundleError::Unreadable, file.string());
    auto info = nlohmann::json::parse(text, nullptr, false);
    if (!info.is_object())
        return fail(BundleError::InvalidJson, file.string());
    return Bundle(std::move(info), std::move(folder));
}

Bundle Bundle::withInfo(nlohmann::json info, std::filesystem::path folder) {
    if (!info.is_object())
        info = nlohmann::json::object();
    return Bundle(std::move(info), std::move(folder));
}

const Bundle& Bundle::main() {
    static const Bundle bundle = [] {
        std::error_code error;
        const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error)
            return Bundle();
        const auto folder = locate(executable);
        if (!folder)
            return Bundle();
        auto loaded = load(*folder);
        return loaded ? std::move(loaded).value() : Bundle();
    }();
    return bundle;
}

std::optional<std::filesystem::path> Bundle::locate(const std::filesystem::path& executable) {
    std::error_code error;
    for (auto dir = executable.parent_path(); !dir.empty(); dir = dir.parent_path()) {
        const auto candidate = dir / bundleFolder;
        if (std::filesystem::is_regular_file(candidate / infoFile, error))
            return candidate;
        if (dir == dir.root_path())
            break;
    }
    return std::nullopt;
}

std::optional<std::string> Bundle::string(std::string_view key) const {
    const auto found = m_info.find(std::string(key));
    if (found == m_info.end() || !found->is_string())
        return std::nullopt;
    return found->get<std::string>();
}

std::optional<bool> Bundle::boolean(std::string_view key) const {
    const auto found = m_info.find(std::string(key));
    if (found == m_info.end() || !found->is_boolean())
        return std::nullopt;
    return found->get<bool>();
}

std::string Bundle::identifier() const {
    auto value = string("CFBundleIdentifier");
    return value && !value->empty() ? *value : std::string(fallbackIdentifier);
}

std::optional<std::string> Bundle::shortVersion() const {
    return string("CFBundleShortVersionString");
}

std::filesystem::path Bundle::resource(std::string_view relative) const {
    return m_folder / relative;
}

} // namespace talverin
