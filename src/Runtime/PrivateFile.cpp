// The portable part of PrivateFile: how a damaged file's copy is named. The POSIX calls are in
// linux/PrivateFile.cpp.
#include "Runtime/PrivateFile.h"

#include "Runtime/EventLoop.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

namespace talverin {
namespace {

// Enough for every damaged file a user could make in one second; past it something else is
// wrong, and the file had better stay where it is.
constexpr int maxAsideNumber = 1000;

// A file may be set aside before an event loop is installed (the command-line modes); tests
// install a virtual one to fix the time.
WallTime wallClock() {
    if (EventLoop* loop = Runtime::current())
        return loop->now();
    return std::chrono::system_clock::now();
}

// The time in UTC as 20261210T234800Z: sorts by time and needs no character a file name avoids.
std::string utcStamp(WallTime time) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(time);
    const auto day = floor<days>(seconds);
    const year_month_day date(day);
    const hh_mm_ss clock(seconds - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02uT%02ld%02ld%02lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long>(clock.hours().count()),
                  static_cast<long>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()));
    return text;
}

} // namespace

PrivateFile::Aside PrivateFile::setAside(const std::filesystem::path& file) {
    return underFreeName(file, [&file](const std::filesystem::path& target) {
        return moveWithoutReplacing(file, target);
    });
}

PrivateFile::Aside PrivateFile::keepCopy(const std::filesystem::path& file,
                                         std::string_view bytes) {
    // The copy is whole on disk under a temporary name first, then takes a free name: a crash
    // leaves either no copy or a whole one, and an earlier copy is never replaced. The name is
    // one removeLeftovers knows, should a crash leave it behind.
    std::filesystem::path temporary = file;
    temporary.replace_filename(file.filename().string() + ".tmp.copy");
    if (const int error = replace(temporary, bytes); error != 0)
        return Aside{{}, error};
    Aside aside = underFreeName(file, [&temporary](const std::filesystem::path& target) {
        return moveWithoutReplacing(temporary, target);
    });
    if (aside.error != 0) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
    return aside;
}

PrivateFile::Aside
PrivateFile::underFreeName(const std::filesystem::path& file,
                           const std::function<int(const std::filesystem::path&)>& move) {
    // The time says which copy came when; a number follows when a second one comes within
    // the same second.
    const std::string stem = file.stem().string() + ".corrupt-" + utcStamp(wallClock());
    Aside aside;
    aside.error = EEXIST;
    for (int n = 1; aside.error == EEXIST && n <= maxAsideNumber; ++n) {
        aside.path = file;
        aside.path.replace_filename(stem + (n > 1 ? "-" + std::to_string(n) : "") +
                                    file.extension().string());
        aside.error = move(aside.path);
    }
    if (aside.error != 0)
        aside.path.clear();
    return aside;
}

} // namespace talverin
