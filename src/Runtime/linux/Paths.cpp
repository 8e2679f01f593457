#include "Runtime/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talverin {
namespace {

constexpr const char* appFolderName = "Talverin";

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

std::filesystem::path homeDir() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    // Without a usable $HOME the password database still knows the user's home folder.
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return "/";
}

std::filesystem::path baseDir(const char* variable, const char* fallbackBelowHome) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/')
        return value;
    return homeDir() / fallbackBelowHome;
}

// One mkdir that treats "already a folder" as success.
Result<void, PathError> makeOne(const std::filesystem::path& dir) {
    if (::mkdir(dir.c_str(), 0700) == 0)
        return {};
    int error = errno;
    struct stat info {};
    if (error == EEXIST && ::stat(dir.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return {};
        return fail(PathError::NotADirectory, dir.string() + ": " + errnoText(ENOTDIR));
    }
    return fail(PathError::CreateFailed, dir.string() + ": " + errnoText(error));
}

} // namespace

std::filesystem::path Paths::configHome() {
    return baseDir("XDG_CONFIG_HOME", ".config");
}
std::filesystem::path Paths::dataHome() {
    return baseDir("XDG_DATA_HOME", ".local/share");
}
std::filesystem::path Paths::stateHome() {
    return baseDir("XDG_STATE_HOME", ".local/state");
}

std::filesystem::path Paths::appConfigDir() {
    return configHome() / appFolderName;
}
std::filesystem::path Paths::appDataDir() {
    return dataHome() / appFolderName;
}
std::filesystem::path Paths::appStateDir() {
    return stateHome() / appFolderName;
}

Result<void, PathError> Paths::ensurePrivateDir(const std::filesystem::path& dir) {
    const std::filesystem::path target = dir.lexically_normal();
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) {
        // Walk down from the root so that each missing parent is created in turn.
        std::filesystem::path partial;
        for (const auto& part : target) {
            partial /= part;
            if (part.empty() || partial == partial.root_path())
                continue;
            if (auto made = makeOne(partial); !made)
                return made;
        }
        if (::stat(target.c_str(), &info) != 0)
            return fail(PathError::CreateFailed, target.string() + ": " + errnoText(errno));
    }
    if (!S_ISDIR(info.st_mode))
        return fail(PathError::NotADirectory, target.string() + ": " + errnoText(ENOTDIR));
    // The umask may have narrowed the mode, and an older folder may be wider than ours.
    if ((info.st_mode & 07777) != 0700 && ::chmod(target.c_str(), 0700) != 0)
        return fail(PathError::ModeFailed, target.string() + ": " + errnoText(errno));
    return {};
}

} // namespace talverin
