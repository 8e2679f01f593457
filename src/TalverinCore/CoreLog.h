#pragma once

#include <functional>
#include <string>

namespace talverin {

// The one way the library modules write a log line. A line carries its component as a prefix
// ("mic: ...", "History: ...") and no trailing newline; CoreLog adds no time stamp or level.
// Until the application installs a sink, and always in the command-line modes, lines go to
// standard error.
class CoreLog {
public:
    using Sink = std::function<void(const std::string&)>;

    CoreLog() = delete;

    // Any thread. The installed sink, or an empty function while lines go to standard error.
    static Sink sink();
    // Any thread. Installs the sink; an empty function sends later lines to standard error.
    static void setSink(Sink sink);
    // Any thread. Each call is exactly one line: line breaks and other control characters in
    // the text are written as escapes (\n, \r, \t, \u0007). Calls the sink with that line,
    // outside the lock and on the caller's thread, so the sink must be safe to call from any
    // thread and may run on several at once. Without a sink, writes the line and one line feed
    // to standard error in a single write.
    static void write(const std::string& line);
};

} // namespace talverin
