#pragma once

#include "Runtime/Bundle.h"
#include "TalverinInsert/AccessibilityBackend.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace talverin {

// The desktop's accessibility tree through AT-SPI 2. Every libatspi call runs on one thread of
// this backend with a GLib main context of its own, so libatspi's events never land on the
// application's main loop; a caller waits for its answer only as long as the element's
// messaging timeout allows and reads a timeout as a target that stopped answering. libatspi
// gets half that time for its own D-Bus calls, because a call of it may wait twice as long as
// the timeout it is given.
//
// Attributes are answered under the names the context reader and the inserter ask for; text
// offsets are converted between AT-SPI's code points and UTF-16 units.
class AccessibilityAtspi final : public AccessibilityBackend {
public:
    // `isTrusted` answers at once whether the desktop's accessibility is on; `display` names the
    // X display whose height is the main display's (empty: $DISPLAY); `ownIdentity` is the
    // identifier this very process reports for itself, the clipboard keeper's source, so that
    // our own windows are known as ours.
    AccessibilityAtspi(std::function<bool()> isTrusted, std::string display = {},
                       std::string ownIdentity = Bundle::main().identifier());
    ~AccessibilityAtspi() override;
    AccessibilityAtspi(const AccessibilityAtspi&) = delete;
    AccessibilityAtspi& operator=(const AccessibilityAtspi&) = delete;

    bool isProcessTrusted() override;
    AXElement systemWide() override;
    AXElement applicationElement(std::int32_t pid) override;
    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<RunningApplication> runningApplication(std::int32_t pid) override;
    void setMessagingTimeout(const AXElement& element, float seconds) override;
    AXReply<std::int32_t> pid(const AXElement& element) override;
    AXReply<AXAttributeValue> copy(const AXElement& element, const std::string& name) override;
    AXReply<std::optional<std::vector<AXAttributeValue>>>
    copyMultiple(const AXElement& element, const std::vector<std::string>& names) override;
    AXReply<AXAttributeValue> copyParameterized(const AXElement& element, const std::string& name,
                                                const AXAttributeValue& parameter) override;
    AXReply<bool> isSettable(const AXElement& element, const std::string& name) override;
    int set(const AXElement& element, const std::string& name,
            const AXAttributeValue& value) override;
    double mainDisplayHeight() override;

    // How long a caller waits for an element that was given no messaging timeout.
    static constexpr float defaultTimeout = 1.0f;

    struct Thread;

private:
    // Runs `job` on the backend thread and waits up to `seconds` for its answer; nothing on a
    // timeout.
    template <typename T> std::optional<T> call(float seconds, std::function<T()> job);
    float timeoutOf(const AXElement& element) const;
    // Answers that the request to build an application's accessibility tree cannot be made
    // here, and says so in the log once per process.
    int requestAccessibilityTree(const AXElement& app);

    std::function<bool()> m_isTrusted;
    std::string m_displayName;
    std::string m_ownIdentity;
    std::shared_ptr<Thread> m_thread;
};

} // namespace talverin
