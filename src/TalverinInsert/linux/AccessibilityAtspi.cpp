#include "TalverinInsert/linux/AccessibilityAtspi.h"

#include "Runtime/linux/XErrorTrap.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinInsert/AppIdentity.h"
#include "TalverinInsert/ContextRules.h"
#include "TalverinInsert/linux/AppCluesProc.h"
#include "TalverinInsert/linux/AtspiFocusSearch.h"
#include "TalverinInsert/linux/AtspiFocusTracker.h"

#include <atomic>
#include <cmath>
#include <fstream>

#include <X11/Xlib.h>
#include <unistd.h>

namespace talverin {

namespace {

using Value = AXReply<AXAttributeValue>;

// Each question of the warm-up at launch waits at most this long; nobody waits for it.
constexpr int warmUpTimeoutMs = 1000;

const AtspiHandle* handleOf(const AXElement& element) {
    return dynamic_cast<const AtspiHandle*>(element.get());
}

AXElement wrap(AtspiObject object) {
    if (object.empty())
        return nullptr;
    return std::make_shared<AtspiHandle>(std::move(object));
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    return line;
}

// What a reading that found nothing answers: the application's silence when it did not answer,
// else that there is no such value.
Value nothingFound(const AtspiReader& reader) {
    return reader.stalled() ? Value{AXError::cannotComplete, {}} : Value{AXError::noValue, {}};
}

} // namespace

struct AccessibilityAtspi::Connection {
    explicit Connection(std::shared_ptr<AtspiBus> bus)
        : bus(std::move(bus)), tracker(this->bus) {}

    std::shared_ptr<AtspiBus> bus;
    AtspiFocusTracker tracker;
};

AccessibilityAtspi::AccessibilityAtspi(std::function<bool()> isTrusted, std::string display,
                                       std::string ownIdentity)
    : m_isTrusted(std::move(isTrusted)), m_displayName(std::move(display)),
      m_ownIdentity(std::move(ownIdentity)) {
    XErrorTrap::initThreads();
    // Connects, and learns the processes of the applications already running and the window
    // in front, so that the first dictation's read asks only what is new.
    m_connector = std::thread([this] {
        const auto link = connection();
        frontWindow();
        if (!link)
            return;
        for (const AtspiObject& app : link->bus->applications(warmUpTimeoutMs))
            link->bus->processOf(app.bus, warmUpTimeoutMs);
    });
}

AccessibilityAtspi::~AccessibilityAtspi() {
    m_connector.join();
    {
        std::lock_guard lock(m_connectionMutex);
        m_connection.reset();
    }
    if (m_display) {
        XCloseDisplay(m_display);
        XErrorTrap::release(m_display);
    }
}

std::shared_ptr<AccessibilityAtspi::Connection> AccessibilityAtspi::connection() {
    std::lock_guard lock(m_connectionMutex);
    if (m_connection && !g_dbus_connection_is_closed(m_connection->bus->connection()))
        return m_connection;
    // A bus that went away (the desktop's accessibility restarted) is found again.
    m_connection.reset();
    if (auto bus = AtspiBus::connect())
        m_connection = std::make_shared<Connection>(std::move(bus));
    return m_connection;
}

int AccessibilityAtspi::timeoutMsOf(const AXElement& element) const {
    const auto* handle = handleOf(element);
    const float seconds = handle && handle->timeout.load() > 0 ? handle->timeout.load()
                                                               : defaultTimeout;
    return std::max(1, static_cast<int>(std::lround(seconds * 1000)));
}

std::optional<FrontWindow> AccessibilityAtspi::frontWindow() {
    std::lock_guard lock(m_displayMutex);
    if (!m_displayTried) {
        m_displayTried = true;
        m_display = XOpenDisplay(m_displayName.empty() ? nullptr : m_displayName.c_str());
        if (m_display)
            XErrorTrap::adopt(m_display, nullptr, nullptr);
    }
    return m_display ? FrontWindowX11::read(m_display) : std::nullopt;
}

bool AccessibilityAtspi::isProcessTrusted() {
    return m_isTrusted();
}

AXElement AccessibilityAtspi::systemWide() {
    static const AXElement system = std::make_shared<AtspiHandle>(AtspiObject{});
    return system;
}

AXElement AccessibilityAtspi::applicationElement(std::int32_t pid) {
    const auto link = connection();
    if (!link)
        return nullptr;
    AtspiReader reader(*link->bus, static_cast<int>(defaultTimeout * 1000));
    return wrap(AtspiFocusSearch::applicationOf(reader, pid));
}

// The application in front: the owner of the window the X server and the window manager say
// is in front. Only when no window names its process, the application whose toolkit marks one
// of its windows active.
Value AccessibilityAtspi::focusedApplication(AtspiReader& reader) {
    if (const auto front = frontWindow()) {
        if (AtspiObject app = AtspiFocusSearch::applicationOf(reader, front->pid); !app.empty())
            return {AXError::success, wrap(std::move(app))};
        return nothingFound(reader);
    }
    if (AtspiObject app = AtspiFocusSearch::activeByToolkit(reader); !app.empty())
        return {AXError::success, wrap(std::move(app))};
    return nothingFound(reader);
}

std::optional<RunningApplication> AccessibilityAtspi::frontmostApplication() {
    std::int32_t pid = 0;
    if (const auto front = frontWindow()) {
        pid = front->pid;
    } else if (const auto link = connection()) {
        AtspiReader reader(*link->bus, static_cast<int>(defaultTimeout * 1000));
        const AtspiObject app = AtspiFocusSearch::activeByToolkit(reader);
        if (!app.empty())
            pid = link->bus->processOf(app.bus, reader.timeoutMs());
    }
    if (pid <= 0)
        return std::nullopt;
    return runningApplication(pid);
}

std::optional<RunningApplication> AccessibilityAtspi::runningApplication(std::int32_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    const auto name = readFile(proc + "/comm");
    if (!name)
        return std::nullopt;
    RunningApplication app;
    app.pid = pid;
    app.localizedName = name;
    char path[4096] = {};
    const ssize_t n = ::readlink((proc + "/exe").c_str(), path, sizeof(path) - 1);
    if (n > 0) {
        const std::string exe(path, static_cast<std::size_t>(n));
        app.bundleLocation = exe.substr(0, exe.rfind('/'));
        // The kernel keeps only the first 15 bytes of a process's name; the program's file
        // carries the whole of it.
        app.localizedName = exe.substr(exe.rfind('/') + 1);
    }
    if (pid == ::getpid()) {
        app.bundleID = m_ownIdentity;
        return app;
    }
    const auto front = frontWindow();
    if (front && front->pid == pid)
        app.windowClass = front->className;
    app.bundleID = AppIdentity::identify(AppCluesProc::read(pid, front));
    return app;
}

void AccessibilityAtspi::setMessagingTimeout(const AXElement& element, float seconds) {
    if (const auto* handle = handleOf(element))
        handle->timeout = seconds;
}

AXReply<std::int32_t> AccessibilityAtspi::pid(const AXElement& element) {
    const auto* handle = handleOf(element);
    if (!handle || handle->isSystemWide())
        return {AXError::invalidUIElement, 0};
    const auto link = connection();
    if (!link)
        return {AXError::cannotComplete, 0};
    const std::int32_t pid = link->bus->processOf(handle->object.bus, timeoutMsOf(element));
    return pid > 0 ? AXReply<std::int32_t>{AXError::success, pid}
                   : AXReply<std::int32_t>{AXError::cannotComplete, 0};
}

Value AccessibilityAtspi::attributeOf(Connection& link, AtspiReader& reader,
                                      const AtspiHandle& handle, const std::string& name) {
    if (handle.isSystemWide()) {
        // The system-wide element knows only the application in front.
        if (name != "AXFocusedApplication")
            return {AXError::attributeUnsupported, {}};
        return focusedApplication(reader);
    }
    if (name == "AXFocusedUIElement" || name == "AXFocusedWindow") {
        AtspiObject focused =
            AtspiFocusSearch::focusedIn(reader, handle.object, link.tracker.lastFocused());
        if (name == "AXFocusedWindow" && !focused.empty())
            focused = atspiWindowOf(reader, focused);
        return focused.empty() ? nothingFound(reader) : Value{AXError::success, wrap(focused)};
    }
    Value value = atspiAttribute(reader, handle.object, name);
    if (reader.stalled())
        return {AXError::cannotComplete, {}};
    return value;
}

AXReply<AXAttributeValue> AccessibilityAtspi::copy(const AXElement& element,
                                                   const std::string& name) {
    const auto* handle = handleOf(element);
    if (!handle)
        return {AXError::invalidUIElement, {}};
    const auto link = connection();
    if (!link)
        return {AXError::cannotComplete, {}};
    AtspiReader reader(*link->bus, timeoutMsOf(element));
    return attributeOf(*link, reader, *handle, name);
}

AXReply<std::optional<std::vector<AXAttributeValue>>>
AccessibilityAtspi::copyMultiple(const AXElement& element, const std::vector<std::string>& names) {
    using Many = AXReply<std::optional<std::vector<AXAttributeValue>>>;
    const auto* handle = handleOf(element);
    if (!handle)
        return {AXError::invalidUIElement, std::nullopt};
    const auto link = connection();
    if (!link)
        return {AXError::cannotComplete, std::nullopt};
    // One series for all the names: the element is asked everything they need at once, and
    // nothing twice.
    AtspiReader reader(*link->bus, timeoutMsOf(element));
    if (!handle->isSystemWide())
        reader.prefetchElement(handle->object);
    std::vector<AXAttributeValue> values;
    for (const auto& name : names) {
        auto one = attributeOf(*link, reader, *handle, name);
        if (one.error == AXError::cannotComplete || one.error == AXError::invalidUIElement)
            return Many{one.error, std::nullopt};
        values.push_back(one.ok() ? std::move(one.value) : AXAttributeValue(AXUnreadable{one.error}));
    }
    return Many{AXError::success, std::move(values)};
}

AXReply<AXAttributeValue> AccessibilityAtspi::copyParameterized(const AXElement& element,
                                                                const std::string& name,
                                                                const AXAttributeValue& parameter) {
    const auto* handle = handleOf(element);
    const auto* range = std::get_if<AXRange>(&parameter);
    if (!handle || handle->isSystemWide())
        return {AXError::invalidUIElement, {}};
    if (name != "AXStringForRange" || !range)
        return {AXError::attributeUnsupported, {}};
    const auto link = connection();
    if (!link)
        return {AXError::cannotComplete, {}};
    AtspiReader reader(*link->bus, timeoutMsOf(element));
    return atspiStringForRange(reader, handle->object, *range);
}

AXReply<bool> AccessibilityAtspi::isSettable(const AXElement& element, const std::string& name) {
    const auto* handle = handleOf(element);
    if (!handle || handle->isSystemWide())
        return {AXError::invalidUIElement, false};
    const auto link = connection();
    if (!link)
        return {AXError::cannotComplete, false};
    AtspiReader reader(*link->bus, timeoutMsOf(element));
    return atspiIsSettable(reader, handle->object, name);
}

int AccessibilityAtspi::set(const AXElement& element, const std::string& name,
                            const AXAttributeValue& value) {
    const auto* handle = handleOf(element);
    if (!handle || handle->isSystemWide())
        return AXError::invalidUIElement;
    if (name == "AXManualAccessibility" || name == "AXEnhancedUserInterface")
        return requestAccessibilityTree(element);
    const auto link = connection();
    if (!link)
        return AXError::cannotComplete;
    AtspiReader reader(*link->bus, timeoutMsOf(element));
    return atspiWrite(reader, handle->object, name, value);
}

int AccessibilityAtspi::requestAccessibilityTree(const AXElement& app) {
    // Chromium and Electron build their tree over AT-SPI by themselves once the bus is on;
    // there is no call that asks them to.
    static std::atomic<bool> said{false};
    if (said)
        return AXError::notImplemented;
    const auto owner = pid(app);
    const auto running = owner.ok() ? runningApplication(owner.value) : std::nullopt;
    const WebEngine engine = running
                                 ? WebEngines::classify(running->bundleID, running->bundleLocation)
                                 : WebEngine::none;
    if (engine != WebEngine::none && !said.exchange(true))
        CoreLog::write("AXContext: accessibility tree request not available here (" +
                       std::string(toString(engine)) + ")");
    return AXError::notImplemented;
}

double AccessibilityAtspi::mainDisplayHeight() {
    std::lock_guard lock(m_displayMutex);
    Display* display = XOpenDisplay(m_displayName.empty() ? nullptr : m_displayName.c_str());
    if (!display)
        return 0;
    const double height = DisplayHeight(display, DefaultScreen(display));
    XCloseDisplay(display);
    return height;
}

} // namespace talverin
