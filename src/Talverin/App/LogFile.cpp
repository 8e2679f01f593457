#include "Talverin/App/LogFile.h"

#include "Runtime/Paths.h"
#include "Runtime/PrivateFile.h"
#include "Runtime/ThreadQueues.h"

#include <chrono>
#include <ctime>
#include <system_error>
#include <utility>

namespace talverin {

LogFile::LogFile(std::filesystem::path folder)
    : m_folder(std::move(folder)), m_queue(std::make_unique<ThreadSerialQueue>("org.talverin.log")) {}

LogFile::~LogFile() { m_queue.reset(); }

void LogFile::write(const std::string& line, WallTime at) {
    std::string text = stamp(at);
    text.reserve(text.size() + line.size() + 2);
    text.append(" ").append(line).append("\n");
    m_queue->async([this, text = std::move(text)] { append(text); });
}

void LogFile::flush() {
    m_queue->sync([] {});
}

std::string LogFile::stamp(WallTime at) {
    using namespace std::chrono;
    const auto sinceEpoch = at.time_since_epoch();
    // Floor, not truncation, so that a time before 1970 still gets its milliseconds right.
    const auto secondsPart = floor<seconds>(sinceEpoch);
    const auto millis = duration_cast<milliseconds>(sinceEpoch - secondsPart).count();
    const std::time_t whole = secondsPart.count();
    std::tm local{};
    localtime_r(&whole, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis));
    return text;
}

void LogFile::append(const std::string& text) {
    if (!m_opened) {
        m_opened = true;
        open();
    }
    if (m_file)
        PrivateFile::writeAll(fileno(m_file.get()), text);
}

// Runs once, on the queue, at the first line of the launch.
void LogFile::open() {
    std::error_code ignored;
    (void)Paths::ensurePrivateDir(m_folder);
    const auto current = m_folder / fileName;
    const auto previous = m_folder / previousName;
    std::filesystem::remove(previous, ignored);
    std::filesystem::rename(current, previous, ignored);
    // "e": the file is not inherited by the programs the application starts.
    std::FILE* file = std::fopen(current.c_str(), "we");
    if (!file)
        return;
    // The folder is private already; the file is made so too before the first line goes in.
    std::filesystem::permissions(current, std::filesystem::perms::owner_read |
                                              std::filesystem::perms::owner_write,
                                 ignored);
    m_file.reset(file);
}

} // namespace talverin
