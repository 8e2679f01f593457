#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace talverin {

// Files that only this user may read and that are replaced whole (the history, the defaults),
// on POSIX calls so that every failure keeps its errno: the callers' log lines name it. Each
// answers 0 or an errno value.
class PrivateFile {
public:
    PrivateFile() = delete;

    struct Contents {
        std::string bytes;
        int error = 0; // ENOENT when there is no file yet
    };

    // The whole file. Anything but a regular file is refused (EISDIR for a folder, EINVAL for
    // the rest), so that a pipe or a device in its place can neither block nor flood the launch.
    static Contents read(const std::filesystem::path& file);

    // Replaces the file so that a crash or a power loss at any moment leaves either the old file
    // or the new one, whole, and no other user can read the bytes at any time: the folder (and
    // any missing parent) is made with mode 0700, the bytes go to a temporary file beside the
    // target that is created with mode 0600 and O_EXCL, reach the disk with fsync, and take the
    // target's place with rename.
    static int replace(const std::filesystem::path& file, std::string_view bytes);

    // Removes the temporary files that a save killed before its rename left beside the file.
    static void removeLeftovers(const std::filesystem::path& file);

    // Where setAside moved a file, or why it could not.
    struct Aside {
        std::filesystem::path path; // the file's new name, when error is 0
        int error = 0;
    };

    // Moves a damaged file out of the way, beside itself, as <stem>.corrupt-<UTC time><ext>
    // (history.corrupt-20261210T234800Z.json), with -2, -3 ... after the time when that name is
    // taken: a second damaged file never replaces the first copy. The time is the installed
    // event loop's, else the system clock's. When every name is taken, or the move fails, the
    // file stays where it is and error says why.
    static Aside setAside(const std::filesystem::path& file);

    // Writes the bytes beside the file under the name setAside would give it, never replacing
    // anything there: a copy of a file that is still in use (and will be rewritten) before
    // part of what it held is dropped. The file itself is left as it is.
    static Aside keepCopy(const std::filesystem::path& file, std::string_view bytes);

    // Moves the file to `target` in the same folder unless something is already there: never
    // replaces, answering EEXIST instead, so that an earlier copy the user may need survives.
    static int moveWithoutReplacing(const std::filesystem::path& file,
                                    const std::filesystem::path& target);

    // Writes every byte, going on after interrupted and partial writes; false, with errno set,
    // on a failure.
    static bool writeAll(int fd, std::string_view bytes);

    // The errno value as its symbolic name and number, such as "ENOSPC 28".
    static std::string describe(int error);

private:
    // Tries the names of setAside in turn with `move`, which answers EEXIST for a taken name.
    static Aside underFreeName(const std::filesystem::path& file,
                               const std::function<int(const std::filesystem::path&)>& move);
};

} // namespace talverin
