#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talverin {

// An application with a window on screen: the window to bring back and the process it names.
struct RunningApp {
    unsigned long window = 0;
    std::int32_t pid = 0;
    bool operator==(const RunningApp&) const = default;
};

// The application in front, and bringing one back to the front. Main thread.
class FrontApplications {
public:
    virtual ~FrontApplications() = default;

    // Why the front application cannot be known; none when it can.
    virtual std::optional<std::string> unavailableReason() const = 0;
    // The application whose window is in front; none when none is known.
    virtual std::optional<RunningApp> frontmost() = 0;
    // Asks for the application's window to be brought to the front.
    virtual void activate(const RunningApp& app) = 0;
    // The application's process has ended.
    virtual bool hasTerminated(const RunningApp& app) = 0;
};

// Without a display: no application is ever in front, and none is brought back.
class FrontApplicationsNull final : public FrontApplications {
public:
    explicit FrontApplicationsNull(std::string reason) : m_reason(std::move(reason)) {}

    std::optional<std::string> unavailableReason() const override { return m_reason; }
    std::optional<RunningApp> frontmost() override { return std::nullopt; }
    void activate(const RunningApp&) override {}
    bool hasTerminated(const RunningApp&) override { return true; }

private:
    std::string m_reason;
};

} // namespace talverin
