#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talverin::test {

// One call a fake received, with its arguments as text and the uptime it came at.
struct FakeCall {
    std::string name;
    std::string args;
    double time = 0;

    bool operator==(const FakeCall&) const = default;
};

// The calls a fake received, in order. Safe to use from any thread: some contract members
// are called on the audio queue or a worker.
class CallLog {
public:
    // Stamps the call with the current uptime.
    void record(std::string name, std::string args = {});

    std::vector<FakeCall> calls() const;
    // The names alone, in order: the easiest way to check an order of calls.
    std::vector<std::string> names() const;
    std::size_t count(std::string_view name) const;
    std::optional<FakeCall> last(std::string_view name) const;
    // When each call of that name came.
    std::vector<double> times(std::string_view name) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<FakeCall> m_calls;
};

} // namespace talverin::test
