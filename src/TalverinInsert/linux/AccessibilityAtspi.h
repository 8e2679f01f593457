#pragma once

#include "Runtime/Bundle.h"
#include "TalverinInsert/AccessibilityBackend.h"
#include "TalverinInsert/linux/AtspiElementReads.h"
#include "TalverinInsert/linux/FrontWindowX11.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct _XDisplay;

namespace talverin {

// The desktop's accessibility tree through AT-SPI 2, spoken over a D-Bus connection of our
// own (AtspiBus). Every call is made on the caller's thread and waits for each message at most
// the element's messaging timeout, so readings on different threads never wait for each other,
// and a reading abandoned by its caller leaves nothing running behind it. Focus events are
// followed on a small thread of their own (AtspiFocusTracker).
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

private:
    struct Connection;
    // The bus and its focus tracker, connected on first use and again when the bus was lost;
    // nothing without a bus.
    std::shared_ptr<Connection> connection();
    int timeoutMsOf(const AXElement& element) const;
    // The window in front, read on our own X connection.
    std::optional<FrontWindow> frontWindow();
    AXReply<AXAttributeValue> focusedApplication(AtspiReader& reader);
    AXReply<AXAttributeValue> attributeOf(Connection& link, AtspiReader& reader,
                                          const AtspiHandle& handle, const std::string& name);
    // Answers that the request to build an application's accessibility tree cannot be made
    // here, and says so in the log once per process.
    int requestAccessibilityTree(const AXElement& app);

    std::function<bool()> m_isTrusted;
    std::string m_displayName;
    std::string m_ownIdentity;
    std::mutex m_connectionMutex;
    std::shared_ptr<Connection> m_connection;
    std::mutex m_displayMutex;
    _XDisplay* m_display = nullptr;
    bool m_displayTried = false;
    // Connects at launch, so that focus events are heard from the start.
    std::thread m_connector;
};

} // namespace talverin
