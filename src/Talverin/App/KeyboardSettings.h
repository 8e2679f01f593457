#pragma once

#include <optional>
#include <string>

namespace talverin {

// The desktop's keyboard settings, which the pages' note on the fn key links to.
class KeyboardSettings {
public:
    virtual ~KeyboardSettings() = default;

    // Main thread. Why no keyboard settings can be opened (no display, no settings program);
    // none when they can.
    virtual std::optional<std::string> unavailableReason() const = 0;
    // Main thread. Starts the desktop's keyboard settings; false when nothing started.
    virtual bool open() = 0;
};

// Without a desktop to open them on: nothing opens, and the reason says why.
class KeyboardSettingsNull final : public KeyboardSettings {
public:
    explicit KeyboardSettingsNull(std::string reason) : m_reason(std::move(reason)) {}

    std::optional<std::string> unavailableReason() const override { return m_reason; }
    bool open() override { return false; }

private:
    std::string m_reason;
};

} // namespace talverin
