#pragma once

#include "TalverinInsert/AccessibilityBackend.h"
#include "TalverinInsert/Ticking.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talverin {

// One bounded series of accessibility calls. Every element it touches gets its messaging
// timeout, and past its deadline it makes no call at all, so an application that stops
// answering costs one timeout, not one per attribute. Used by one thread at a time.
class AXSession {
public:
    // `timeoutMs` is clamped (see clampTimeoutMs); with a budget, the deadline is that many
    // seconds from now.
    AXSession(AccessibilityBackend& backend, int timeoutMs, std::optional<double> budget,
              Ticking ticking = Ticking::system());

    // 0 or less: 100 ms; 1 to 10: 10 ms; over 1000: 1000 ms; else unchanged.
    static int clampTimeoutMs(int timeoutMs);

    float timeout() const { return m_timeout; }
    bool hung() const { return m_hung; }
    bool expired() const { return m_expired; }
    int calls() const { return m_calls; }
    std::optional<double> deadline() const { return m_deadline; }

    struct FocusedApplication {
        AXElement element;
        std::int32_t pid = 0;
    };
    std::optional<FocusedApplication> focusedApplication();
    AXElement focusedElement(const AXElement& application);

    std::map<std::string, AXAttributeValue> copyMany(const AXElement& element,
                                                     const std::vector<std::string>& names);
    std::optional<AXAttributeValue> copy(const AXElement& element, const std::string& name);
    std::optional<AXAttributeValue> copy(const AXElement& element, const std::string& name,
                                         const AXAttributeValue& parameter);
    bool isSettable(const AXElement& element, const std::string& name);
    int set(const AXElement& element, const std::string& name, const AXAttributeValue& value);

    // Gives the element this session's messaging timeout.
    void adopt(const AXElement& element);

private:
    // False when no call may be made; counts the call otherwise.
    bool admit();
    // Marks the session hung when the call's answer says the target stopped answering.
    void note(int error);

    AccessibilityBackend& m_backend;
    Ticking m_ticking;
    float m_timeout;
    bool m_hung = false;
    bool m_expired = false;
    int m_calls = 0;
    std::optional<double> m_deadline;
};

} // namespace talverin
