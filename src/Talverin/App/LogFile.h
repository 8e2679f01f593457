#pragma once

#include "Runtime/EventLoop.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace talverin {

class ThreadSerialQueue;

// The log file of one launch, "Talverin.log" in its folder, written on a queue of its own so
// that no caller ever waits for the disk.
//
// Nothing is touched until the first line: then the folder is made (0700), the log of the
// previous launch becomes "Talverin.previous.log" (replacing the one before it) and a new,
// empty "Talverin.log" (0600) is started. When that file cannot be opened, the lines of this
// launch are dropped and the open is not tried again: a failing disk must not cost every
// later line a system call.
class LogFile {
public:
    explicit LogFile(std::filesystem::path folder);
    // Writes the lines already queued.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    static constexpr const char* fileName = "Talverin.log";
    static constexpr const char* previousName = "Talverin.previous.log";

    // Any thread. Queues "HH:mm:ss.SSS line\n", stamped with the local time of `at`. Lines of
    // one thread keep their order; lines never interleave.
    void write(const std::string& line, WallTime at);
    // Any thread but the log's own. Returns once the lines queued before it are written.
    void flush();

    // The local time of `at` as "HH:mm:ss.SSS".
    static std::string stamp(WallTime at);

private:
    void append(const std::string& text);
    void open();

    std::filesystem::path m_folder;
    // Only ever used on m_queue.
    bool m_opened = false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_file{nullptr, &std::fclose};
    // Declared last: destroyed first, so that its last jobs still find the file.
    std::unique_ptr<ThreadSerialQueue> m_queue;
};

} // namespace talverin
