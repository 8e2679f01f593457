#include "TalverinCore/CoreLog.h"

#include "Runtime/StandardError.h"

#include <cstdint>
#include <csignal>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

namespace talverin {
namespace {

struct State {
    std::mutex lock;
    // Shared so that a writer copies the sink with one reference count, not a whole closure.
    std::shared_ptr<const CoreLog::Sink> sink;
};

// Never destroyed: other threads may still log while the process runs its exit handlers.
State& state() {
    static State* const instance = [] {
        // Once standard error is a pipe whose reader has gone, SIGPIPE would end the process
        // on the next line; a failed log line must never do that.
        std::signal(SIGPIPE, SIG_IGN);
        return new State;
    }();
    return *instance;
}

// A line is one line whatever it quotes: a server's message, a device's or an application's name
// may carry line breaks or terminal controls, and written as they are they would let outside text
// start what reads as a line of our own. Every C0 and C1 control, DEL, and the two Unicode line
// and paragraph separators are written as escapes. A backslash stays as it is: it cannot start a
// line, so doubling it would only make quoted text harder to read.
bool breaksTheLine(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = static_cast<unsigned char>(text[at]);
    length = 1;
    if (byte < 0x20 || byte == 0x7f)
        return true;
    const auto next = [&](std::size_t offset) {
        return at + offset < text.size() ? static_cast<unsigned char>(text[at + offset]) : 0u;
    };
    // U+0080..U+009F in UTF-8.
    if (byte == 0xc2 && next(1) >= 0x80 && next(1) <= 0x9f) {
        length = 2;
        return true;
    }
    // U+2028 and U+2029.
    if (byte == 0xe2 && next(1) == 0x80 && (next(2) == 0xa8 || next(2) == 0xa9)) {
        length = 3;
        return true;
    }
    return false;
}

std::uint32_t codePoint(std::string_view text, std::size_t at, std::size_t length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    if (length == 1)
        return byte(0);
    if (length == 2)
        return ((byte(0) & 0x1fu) << 6) | (byte(1) & 0x3fu);
    return ((byte(0) & 0x0fu) << 12) | ((byte(1) & 0x3fu) << 6) | (byte(2) & 0x3fu);
}

void appendEscape(std::string& out, std::uint32_t character) {
    switch (character) {
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    static constexpr char hex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(hex[(character >> shift) & 0xfu]);
}

std::string oneLine(const std::string& line) {
    std::size_t length = 0;
    std::size_t first = 0;
    while (first < line.size() && !breaksTheLine(line, first, length))
        ++first;
    if (first == line.size())
        return line;
    std::string out = line.substr(0, first);
    out.reserve(line.size() + 16);
    for (std::size_t at = first; at < line.size(); at += length) {
        if (breaksTheLine(line, at, length))
            appendEscape(out, codePoint(line, at, length));
        else
            out.push_back(line[at]);
    }
    return out;
}

std::shared_ptr<const CoreLog::Sink> currentSink() {
    State& s = state();
    std::lock_guard guard(s.lock);
    return s.sink;
}

void writeToStandardError(const std::string& line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line).push_back('\n');
    StandardError::write(text);
}

} // namespace

CoreLog::Sink CoreLog::sink() {
    auto current = currentSink();
    return current ? *current : Sink();
}

void CoreLog::setSink(Sink sink) {
    auto next = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
    State& s = state();
    {
        std::lock_guard guard(s.lock);
        s.sink.swap(next);
    }
    // The previous sink is released here, outside the lock, in case its closure logs on the way.
}

void CoreLog::write(const std::string& line) {
    const std::string escaped = oneLine(line);
    if (auto current = currentSink())
        (*current)(escaped);
    else
        writeToStandardError(escaped);
}

} // namespace talverin
