#include "Runtime/PrivateFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talverin {
namespace {

constexpr std::string_view temporarySuffix = ".tmp.";

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Creates the folder and its missing parents with mode 0700 and narrows the folder itself to
// 0700. Existing parents are left as they are.
int makePrivateFolder(const std::filesystem::path& folder) {
    std::filesystem::path partial;
    for (const auto& part : folder.lexically_normal()) {
        partial /= part;
        if (part.empty() || partial == partial.root_path())
            continue;
        if (::mkdir(partial.c_str(), 0700) == 0)
            continue;
        const int error = errno;
        struct stat info {};
        if (error != EEXIST || ::stat(partial.c_str(), &info) != 0)
            return error;
        if (!S_ISDIR(info.st_mode))
            return ENOTDIR;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return errno;
    // A folder made by an older build, or under a wide umask, may be open to others. A failure
    // here does not stop the save: the file itself is 0600 either way.
    if ((info.st_mode & 07777) != 0700)
        ::chmod(folder.c_str(), 0700);
    return 0;
}

} // namespace

PrivateFile::Contents PrivateFile::read(const std::filesystem::path& file) {
    Contents contents;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        contents.error = errno;
        return contents;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        contents.error = errno;
    } else if (S_ISDIR(info.st_mode)) {
        contents.error = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        contents.error = EINVAL;
    } else {
        contents.bytes.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got > 0) {
                contents.bytes.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0) {
                break;
            } else if (errno != EINTR) {
                contents.error = errno;
                break;
            }
        }
    }
    ::close(fd);
    if (contents.error != 0)
        contents.bytes.clear();
    return contents;
}

int PrivateFile::replace(const std::filesystem::path& file, std::string_view bytes) {
    const std::filesystem::path folder = folderOf(file);
    if (const int error = makePrivateFolder(folder); error != 0)
        return error;
    std::string temporary = file.string() + std::string(temporarySuffix) + "XXXXXX";
    // mkostemp opens with O_CREAT | O_EXCL and mode 0600: nothing that exists is followed or
    // reused, and no other user can read a byte of it at any moment.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    // The umask may have narrowed the mode further; the owner must keep reading and writing.
    ::fchmod(fd, 0600);
    int error = 0;
    if (!PrivateFile::writeAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), file.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    // The rename outlasts a power cut only once the folder's entry is on the disk too. Some
    // file systems cannot sync a folder; the new file is in place all the same.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return 0;
}

void PrivateFile::removeLeftovers(const std::filesystem::path& file) {
    const std::string prefix = file.filename().string() + std::string(temporarySuffix);
    std::error_code error;
    for (std::filesystem::directory_iterator it(folderOf(file), error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().starts_with(prefix))
            ::unlink(it->path().c_str());
    }
}

int PrivateFile::moveWithoutReplacing(const std::filesystem::path& file,
                                      const std::filesystem::path& target) {
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without RENAME_NOREPLACE: link refuses an existing name just the same.
    if (::link(file.c_str(), target.c_str()) != 0)
        return errno;
    ::unlink(file.c_str());
    return 0;
}

std::string PrivateFile::describe(int error) {
    const char* name = ::strerrorname_np(error);
    return std::string(name != nullptr ? name : "errno") + " " + std::to_string(error);
}

bool PrivateFile::writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace talverin
