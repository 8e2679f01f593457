#include "TalverinInsert/AXContext.h"

#include "Runtime/Milliseconds.h"
#include "Runtime/Unicode.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinInsert/AXCast.h"
#include "TalverinInsert/AXElementBox.h"
#include "TalverinInsert/CaretWindow.h"

#include <algorithm>

namespace talverin {

namespace {

const std::vector<std::string> elementAttributes{
    "AXRole",   "AXSubrole",         "AXSelectedTextRange", "AXNumberOfCharacters",
    "AXWindow", "AXEditableAncestor"};

std::size_t units(const std::string& text) {
    return Unicode::toUtf16(text).size();
}

} // namespace

// What one read has found so far.
struct AXContext::Reading {
    DictationContext context;
    std::int32_t pid = 0;
    WebEngine engine = WebEngine::none;
    bool justEnabled = false;
    AXElement app;
    AXElement element;
    std::map<std::string, AXAttributeValue> attributes;
    std::optional<std::string> role;
    Editability editability = Editability::unknown;
};

AXContext::AXContext(AccessibilityBackend& backend, SecureInput& secureInput, Ticking ticking)
    : m_backend(backend), m_secureInput(secureInput), m_ticking(std::move(ticking)) {}

DictationContext AXContext::read(int timeoutMs) {
    const double started = m_ticking.uptime();
    Reading reading;
    DictationContext& context = reading.context;
    const bool secureInput = m_secureInput.isSecureEventInputEnabled();

    if (!m_backend.isProcessTrusted()) {
        if (const auto front = m_backend.frontmostApplication()) {
            context.appName = front->localizedName.value_or("");
            context.bundleID = front->bundleID;
        }
        context.isSecure = secureInput;
        log("untrusted", context, nullptr, started, std::nullopt, WebEngine::none);
        return context;
    }

    const int timeout = AXSession::clampTimeoutMs(timeoutMs);
    AXSession session(m_backend, timeout, std::max(timeout / 1000.0 * 4, 0.25), m_ticking);
    const auto app = session.focusedApplication();
    if (!app) {
        context.isSecure = secureInput;
        log("no app", context, &session, started, std::nullopt, WebEngine::none);
        return context;
    }
    reading.app = app->element;
    reading.pid = app->pid;
    const auto running = m_backend.runningApplication(app->pid);
    if (running) {
        context.appName = running->localizedName.value_or("");
        context.bundleID = running->bundleID;
    }
    reading.engine = engine(app->pid, running);
    reading.justEnabled = enableAccessibilityIfNeeded(app->element, app->pid, context.bundleID,
                                                      reading.engine, session);

    reading.element = session.focusedElement(app->element);
    if (!reading.element) {
        context.windowFrame = windowFrame(nullptr, app->element, session);
        context.isSecure = secureInput;
        log("no element", context, &session, started, std::nullopt, WebEngine::none);
        return context;
    }

    reading.attributes = session.copyMany(reading.element, elementAttributes);
    reading.role = AXCast::string(AXCast::find(reading.attributes, "AXRole"));
    const auto subrole = AXCast::string(AXCast::find(reading.attributes, "AXSubrole"));
    context.windowFrame = windowFrame(AXCast::element(AXCast::find(reading.attributes, "AXWindow")),
                                      app->element, session);

    const bool webEngine = reading.engine != WebEngine::none;
    if (ContextRules::isSecureField(reading.role, subrole)) {
        context.elementToken = ElementToken(
            std::make_shared<AXElementBox>(reading.element, app->pid, reading.role,
                                           Editability::editable, std::nullopt, webEngine));
        context.isSecure = true;
        log("secure field", context, &session, started, std::nullopt, WebEngine::none);
        return context;
    }
    if (secureInput && !reading.role) {
        context.isSecure = true;
        log("secure input, no role", context, &session, started, std::nullopt, WebEngine::none);
        return context;
    }

    readElement(reading, session);
    log(std::string(toString(reading.editability)), context, &session, started, reading.role,
        reading.engine);
    return context;
}

void AXContext::readElement(Reading& reading, AXSession& session) {
    const auto& role = reading.role;
    const auto subrole = AXCast::string(AXCast::find(reading.attributes, "AXSubrole"));
    // Decided in order; `nullopt` means "look at the role's kind".
    std::optional<Editability> verdict;
    // A terminal may well accept a value, but what is typed there runs as commands.
    if (ContextRules::isTerminal(role))
        verdict = Editability::notEditable;
    else if (role && ContextRules::isTextRole(*role))
        verdict = Editability::editable;
    else if (subrole == "AXSearchField")
        verdict = Editability::editable;
    else if (AXCast::element(AXCast::find(reading.attributes, "AXEditableAncestor")))
        verdict = Editability::editable;
    else if (session.isSettable(reading.element, "AXValue")) {
        if (!role || !ContextRules::isNonTextValueRole(*role))
            verdict = Editability::editable;
    } else if (!role) {
        verdict = Editability::unknown;
    }
    if (!verdict) {
        if (ContextRules::isBlindRole(*role)) {
            verdict = Editability::unknown;
        } else {
            verdict = session.hung() ? Editability::unknown : Editability::notEditable;
            // A web engine's tree may be half built, and its containers say nothing.
            if (reading.engine != WebEngine::none &&
                (reading.justEnabled || ContextRules::isGenericRole(*role)))
                verdict = Editability::unknown;
        }
    }
    reading.editability = *verdict;

    const auto range = AXCast::range(AXCast::find(reading.attributes, "AXSelectedTextRange"));
    std::optional<std::int64_t> insertionOffset;
    if (range && range->length == 0 && range->location >= 0)
        insertionOffset = range->location;
    reading.context.elementToken = ElementToken(
        std::make_shared<AXElementBox>(reading.element, reading.pid, role, reading.editability,
                                       insertionOffset, reading.engine != WebEngine::none));
    reading.context.isSecure = false;
    reading.context.isEditable = reading.editability == Editability::editable;
    readText(reading, session);
}

void AXContext::readText(Reading& reading, AXSession& session) {
    const auto range = AXCast::range(AXCast::find(reading.attributes, "AXSelectedTextRange"));
    if (!range || reading.editability == Editability::notEditable)
        return;
    DictationContext& context = reading.context;
    const auto count = AXCast::number(AXCast::find(reading.attributes, "AXNumberOfCharacters"));

    const auto byRanges = [&] {
        if (session.hung())
            return;
        const std::int64_t n = std::max<std::int64_t>(*count, 0);
        const std::int64_t loc = range->location < 1 ? 0 : std::min(range->location, n);
        const std::int64_t end = std::min(loc + std::max<std::int64_t>(range->length, 0), n);
        const std::int64_t stop = std::min(end + afterLimit, n);
        const std::int64_t start = loc < beforeLimit ? 0 : loc - beforeLimit;
        auto [before, after] = CaretWindow::trimmed(
            Unicode::toUtf16(string(reading.element, {start, loc - start}, session)),
            loc > beforeLimit,
            Unicode::toUtf16(string(reading.element, {end, stop - end}, session)), stop < *count);
        context.before = Unicode::toUtf8(before);
        context.after = Unicode::toUtf8(after);
    };

    if (count && *count > wholeValueLimit) {
        byRanges();
    } else if (auto value = AXCast::string(session.copy(reading.element, "AXValue"))) {
        const auto around =
            CaretWindow::slice(Unicode::toUtf16(*value), *range, beforeLimit, afterLimit);
        context.before = Unicode::toUtf8(around.before);
        context.selection = Unicode::toUtf8(around.selection);
        context.after = Unicode::toUtf8(around.after);
    } else if (count) {
        byRanges();
    }
    if (context.selection.empty() && range->length >= 1)
        if (auto selected = AXCast::string(session.copy(reading.element, "AXSelectedText")))
            context.selection = *selected;
}

std::string AXContext::string(const AXElement& element, AXRange range, AXSession& session) {
    if (range.length <= 0)
        return {};
    return AXCast::string(session.copy(element, "AXStringForRange", range)).value_or("");
}

std::optional<Rect> AXContext::windowFrame(AXElement window, const AXElement& app,
                                           AXSession& session) {
    if (!window)
        window = AXCast::element(session.copy(app, "AXFocusedWindow"));
    if (!window)
        return std::nullopt;
    session.adopt(window);
    const auto values = session.copyMany(window, {"AXPosition", "AXSize"});
    const auto position = AXCast::point(AXCast::find(values, "AXPosition"));
    const auto size = AXCast::size(AXCast::find(values, "AXSize"));
    const double displayHeight = m_backend.mainDisplayHeight();
    if (!position || !size || size->width <= 0 || size->height <= 0 || displayHeight <= 0)
        return std::nullopt;
    return Rect{{position->x, displayHeight - position->y - size->height}, *size};
}

WebEngine AXContext::engine(std::int32_t pid, const std::optional<RunningApplication>& running) {
    const std::optional<std::string> bundleID = running ? running->bundleID : std::nullopt;
    {
        std::lock_guard lock(m_lock);
        auto it = m_engines.find(pid);
        if (it != m_engines.end() && it->second.first == bundleID)
            return it->second.second;
    }
    const WebEngine engine =
        WebEngines::classify(bundleID, running ? running->bundleLocation : std::nullopt);
    std::lock_guard lock(m_lock);
    if (m_engines.size() > cacheLimit)
        m_engines.clear();
    m_engines[pid] = {bundleID, engine};
    return engine;
}

bool AXContext::enableAccessibilityIfNeeded(const AXElement& app, std::int32_t pid,
                                            const std::optional<std::string>& bundleID,
                                            WebEngine engine, AXSession& session) {
    if (engine == WebEngine::none || WebEngines::isManualAccessibilitySkipped(bundleID))
        return false;
    {
        std::lock_guard lock(m_lock);
        auto it = m_enabled.find(pid);
        if (it != m_enabled.end() && it->second == bundleID)
            return false;
    }
    const int answer = session.set(app, "AXManualAccessibility", true);
    if (answer == AXError::cannotComplete)
        return false;
    // A desktop without such a request says so itself, once; asking again would not help.
    const bool requestable = answer != AXError::notImplemented;
    if (requestable && engine == WebEngine::chromium && answer != AXError::success)
        session.set(app, "AXEnhancedUserInterface", true);
    {
        std::lock_guard lock(m_lock);
        if (m_enabled.size() > cacheLimit)
            m_enabled.clear();
        m_enabled[pid] = bundleID;
    }
    if (!requestable)
        return false;
    CoreLog::write(
        "AXContext: accessibility tree requested (" + std::string(toString(engine)) + ", " +
        (answer == AXError::success ? std::string("manual") : "error " + std::to_string(answer)) +
        ")");
    return answer == AXError::success;
}

void AXContext::log(const std::string& verdict, const DictationContext& context,
                    const AXSession* session, double started,
                    const std::optional<std::string>& role, WebEngine engine) {
    std::string line = "AXContext: " + verdict;
    if (role)
        line += " role=" + *role;
    if (engine != WebEngine::none)
        line += " engine=" + std::string(toString(engine));
    line += " before=" + std::to_string(units(context.before)) +
            " after=" + std::to_string(units(context.after)) +
            " sel=" + std::to_string(units(context.selection)) +
            " secure=" + (context.isSecure ? "true" : "false") +
            " frame=" + (context.windowFrame ? "true" : "false");
    if (session) {
        line += " calls=" + std::to_string(session->calls());
        if (session->expired())
            line += " expired";
        else if (session->hung())
            line += " hung";
    }
    line += " ms=" + std::to_string(wholeMs(m_ticking.uptime() - started));
    CoreLog::write(line);
}

} // namespace talverin
