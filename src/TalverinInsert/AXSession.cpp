#include "TalverinInsert/AXSession.h"

#include "TalverinInsert/AXCast.h"

namespace talverin {

AXSession::AXSession(AccessibilityBackend& backend, int timeoutMs, std::optional<double> budget,
                     Ticking ticking)
    : m_backend(backend), m_ticking(std::move(ticking)),
      m_timeout(static_cast<float>(clampTimeoutMs(timeoutMs)) / 1000.0f) {
    if (budget)
        m_deadline = m_ticking.uptime() + *budget;
}

int AXSession::clampTimeoutMs(int timeoutMs) {
    if (timeoutMs <= 0)
        return 100;
    if (timeoutMs <= 10)
        return 10;
    if (timeoutMs > 1000)
        return 1000;
    return timeoutMs;
}

bool AXSession::admit() {
    if (m_hung)
        return false;
    // The clock is read before every call, so a slow target stops the series within one
    // messaging timeout of the deadline.
    if (m_deadline && *m_deadline <= m_ticking.uptime()) {
        m_hung = true;
        m_expired = true;
        return false;
    }
    ++m_calls;
    return true;
}

void AXSession::note(int error) {
    if (error == AXError::cannotComplete)
        m_hung = true;
}

void AXSession::adopt(const AXElement& element) {
    if (element)
        m_backend.setMessagingTimeout(element, m_timeout);
}

std::optional<AXSession::FocusedApplication> AXSession::focusedApplication() {
    const auto withPid = [this](AXElement app) -> std::optional<FocusedApplication> {
        adopt(app);
        const auto pid = m_backend.pid(app);
        if (!pid.ok() || pid.value <= 0)
            return std::nullopt;
        return FocusedApplication{std::move(app), pid.value};
    };
    AXElement wide = m_backend.systemWide();
    adopt(wide);
    if (AXElement app = AXCast::element(copy(wide, "AXFocusedApplication")))
        return withPid(std::move(app));
    if (m_hung)
        return std::nullopt;
    // Some applications do not report themselves focused; the window manager's idea of the
    // front application is the next best answer.
    const auto front = m_backend.frontmostApplication();
    if (!front)
        return std::nullopt;
    AXElement app = m_backend.applicationElement(front->pid);
    if (!app)
        return std::nullopt;
    return withPid(std::move(app));
}

AXElement AXSession::focusedElement(const AXElement& application) {
    AXElement element = AXCast::element(copy(application, "AXFocusedUIElement"));
    adopt(element);
    return element;
}

std::map<std::string, AXAttributeValue> AXSession::copyMany(const AXElement& element,
                                                            const std::vector<std::string>& names) {
    std::map<std::string, AXAttributeValue> values;
    if (!admit())
        return values;
    auto answer = m_backend.copyMultiple(element, names);
    note(answer.error);
    if (m_hung)
        return values;
    if (answer.ok() && answer.value && answer.value->size() == names.size()) {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (!std::holds_alternative<AXUnreadable>((*answer.value)[i]))
                values.emplace(names[i], std::move((*answer.value)[i]));
        return values;
    }
    // A target that is gone or refuses everyone will not answer single reads either.
    if (answer.error == AXError::invalidUIElement || answer.error == AXError::apiDisabled)
        return values;
    for (const std::string& name : names) {
        if (auto value = copy(element, name))
            values.emplace(name, std::move(*value));
        if (m_hung)
            break;
    }
    return values;
}

std::optional<AXAttributeValue> AXSession::copy(const AXElement& element, const std::string& name) {
    if (!admit())
        return std::nullopt;
    auto answer = m_backend.copy(element, name);
    note(answer.error);
    if (!answer.ok())
        return std::nullopt;
    return std::move(answer.value);
}

std::optional<AXAttributeValue> AXSession::copy(const AXElement& element, const std::string& name,
                                                const AXAttributeValue& parameter) {
    if (!admit())
        return std::nullopt;
    auto answer = m_backend.copyParameterized(element, name, parameter);
    note(answer.error);
    if (!answer.ok())
        return std::nullopt;
    return std::move(answer.value);
}

bool AXSession::isSettable(const AXElement& element, const std::string& name) {
    if (!admit())
        return false;
    const auto answer = m_backend.isSettable(element, name);
    note(answer.error);
    return answer.ok() && answer.value;
}

int AXSession::set(const AXElement& element, const std::string& name,
                   const AXAttributeValue& value) {
    if (!admit())
        return AXError::cannotComplete;
    const int error = m_backend.set(element, name, value);
    note(error);
    return error;
}

} // namespace talverin
