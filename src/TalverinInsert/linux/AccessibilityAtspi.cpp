#include "TalverinInsert/linux/AccessibilityAtspi.h"

#include "Runtime/Unicode.h"
#include "Runtime/linux/XErrorTrap.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinInsert/AppIdentity.h"
#include "TalverinInsert/ContextRules.h"
#include "TalverinInsert/linux/AppCluesProc.h"
#include "TalverinInsert/linux/FrontWindowX11.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>

#include <X11/Xlib.h>
#include <unistd.h>
#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <glib.h>

namespace talverin {

namespace {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};
struct GErrorFree {
    void operator()(GError* error) const { g_clear_error(&error); }
};
struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using CharPtr = std::unique_ptr<gchar, GFree>;
template <typename T> using ObjectPtr = std::unique_ptr<T, GObjectUnref>;

// The libatspi timeout of the job under way on the backend thread, and whether one of its calls
// ran into it. Against a stopped application libatspi hands back empty answers once its
// timeout has passed, mostly without an error: a call that took that long met a target that
// did not answer, however harmless its answer looks.
thread_local std::chrono::milliseconds t_callLimit{0};
thread_local bool t_timedOut = false;

template <typename Call> auto timed(Call call) {
    const auto started = std::chrono::steady_clock::now();
    auto result = call();
    if (t_callLimit.count() > 0 && std::chrono::steady_clock::now() - started >= t_callLimit)
        t_timedOut = true;
    return result;
}

// How many elements a search for the focused element looks at before it gives up.
constexpr int searchLimit = 5000;
// Text is read in pieces of this many code points, so that a long field costs no huge reply.
constexpr int textChunk = 4096;

// Drops a reference on the backend thread while it runs: libatspi's objects are not safe to
// release beside the calls it makes there. Defined with the thread below.
void release(const std::weak_ptr<AccessibilityAtspi::Thread>& owner, AtspiAccessible* accessible);

// The backend thread of the job under way, for the handles the job makes.
thread_local std::weak_ptr<AccessibilityAtspi::Thread> t_owner;

// One element as this backend hands it out. Two handles are one element when their bus name
// and object path agree; the system-wide element has neither.
class AtspiHandle final : public ElementHandle {
public:
    explicit AtspiHandle(AtspiAccessible* accessible) : m_accessible(accessible), m_owner(t_owner) {
        if (accessible) {
            g_object_ref(accessible);
            AtspiObject* object = ATSPI_OBJECT(accessible);
            if (object->app && object->app->bus_name)
                m_bus = object->app->bus_name;
            if (object->path)
                m_path = object->path;
        }
    }
    ~AtspiHandle() override {
        if (m_accessible)
            release(m_owner, m_accessible);
    }

    bool sameElement(const ElementHandle& other) const override {
        const auto* handle = dynamic_cast<const AtspiHandle*>(&other);
        return handle && handle->m_bus == m_bus && handle->m_path == m_path;
    }

    AtspiAccessible* accessible() const { return m_accessible; }
    bool isSystemWide() const { return m_accessible == nullptr; }

    mutable std::atomic<float> timeout{0};

private:
    AtspiAccessible* m_accessible;
    std::weak_ptr<AccessibilityAtspi::Thread> m_owner;
    std::string m_bus;
    std::string m_path;
};

const AtspiHandle* handleOf(const AXElement& element) {
    return dynamic_cast<const AtspiHandle*>(element.get());
}

AXElement wrap(AtspiAccessible* accessible) {
    if (!accessible)
        return nullptr;
    return std::make_shared<AtspiHandle>(accessible);
}

// Whether a libatspi failure says the target did not answer.
int errorCode(const ErrorPtr& error) {
    if (!error)
        return AXError::success;
    const std::string message = error->message ? error->message : "";
    if (message.find("timeout") != std::string::npos ||
        message.find("Timeout") != std::string::npos ||
        message.find("NoReply") != std::string::npos)
        return AXError::cannotComplete;
    return AXError::failure;
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    // A state set that libatspi does not hold asks the application when it is looked at.
    return timed([&] {
        ObjectPtr<AtspiStateSet> set(atspi_accessible_get_state_set(accessible));
        return set && atspi_state_set_contains(set.get(), state);
    });
}

// Whether the element has `state` as its application holds it now. libatspi keeps an element's
// states as it first read them, updated only from the events this process hears, so a field
// that took the focus before we listened would never look focused; the question is asked over
// the bus itself. Blocking on the connection leaves every other message queued, so no event
// handler runs inside the call. False when the application does not answer.
bool hasLiveState(AtspiAccessible* accessible, AtspiStateType state) {
    AtspiObject* object = ATSPI_OBJECT(accessible);
    auto* bus = static_cast<DBusConnection*>(atspi_get_a11y_bus());
    if (!bus || !object->app || !object->app->bus_name || !object->path)
        return false;
    return timed([&] {
        DBusMessage* call = dbus_message_new_method_call(object->app->bus_name, object->path,
                                                         "org.a11y.atspi.Accessible", "GetState");
        if (!call)
            return false;
        DBusError error;
        dbus_error_init(&error);
        const int timeoutMs =
            t_callLimit.count() > 0 ? static_cast<int>(t_callLimit.count()) : 1000;
        DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(bus, call, timeoutMs, &error);
        dbus_message_unref(call);
        dbus_error_free(&error);
        if (!reply)
            return false;
        dbus_uint32_t* words = nullptr;
        int count = 0;
        const bool read = dbus_message_get_args(reply, nullptr, DBUS_TYPE_ARRAY, DBUS_TYPE_UINT32,
                                                &words, &count, DBUS_TYPE_INVALID);
        const int index = static_cast<int>(state);
        const bool held = read && index / 32 < count && ((words[index / 32] >> (index % 32)) & 1);
        dbus_message_unref(reply);
        return held;
    });
}

AtspiRole roleOf(AtspiAccessible* accessible, ErrorPtr& error) {
    GError* raw = nullptr;
    const AtspiRole role = timed([&] { return atspi_accessible_get_role(accessible, &raw); });
    error.reset(raw);
    return role;
}

// The role names the context reader knows, from the AT-SPI role and the states that tell a
// single-line field from a multi-line one.
std::pair<std::string, std::optional<std::string>> mappedRole(AtspiAccessible* accessible,
                                                              AtspiRole role) {
    switch (role) {
    case ATSPI_ROLE_PASSWORD_TEXT:
        return {"AXTextField", "AXSecureTextField"};
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_DOCUMENT_TEXT:
        if (hasState(accessible, ATSPI_STATE_MULTI_LINE))
            return {"AXTextArea", std::nullopt};
        return {"AXTextField", std::nullopt};
    case ATSPI_ROLE_SPIN_BUTTON:
        return {"AXIncrementor", std::nullopt};
    case ATSPI_ROLE_TERMINAL:
        return {"AXTerminal", std::nullopt};
    case ATSPI_ROLE_COMBO_BOX:
        return {"AXComboBox", std::nullopt};
    case ATSPI_ROLE_PUSH_BUTTON:
        return {"AXButton", std::nullopt};
    case ATSPI_ROLE_CHECK_BOX:
        return {"AXCheckBox", std::nullopt};
    case ATSPI_ROLE_RADIO_BUTTON:
        return {"AXRadioButton", std::nullopt};
    case ATSPI_ROLE_SLIDER:
        return {"AXSlider", std::nullopt};
    case ATSPI_ROLE_SCROLL_BAR:
        return {"AXScrollBar", std::nullopt};
    case ATSPI_ROLE_PROGRESS_BAR:
        return {"AXProgressIndicator", std::nullopt};
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
        return {"AXWindow", std::nullopt};
    case ATSPI_ROLE_APPLICATION:
        return {"AXApplication", std::nullopt};
    case ATSPI_ROLE_DOCUMENT_WEB:
        return {"AXWebArea", std::nullopt};
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_SECTION:
        return {"AXGroup", std::nullopt};
    case ATSPI_ROLE_SCROLL_PANE:
        return {"AXScrollArea", std::nullopt};
    default:
        return {"AXUnknown", std::nullopt};
    }
}

// The whole text of a text element, read in pieces.
std::optional<std::string> wholeText(AtspiText* text, ErrorPtr& error) {
    GError* raw = nullptr;
    const gint count = timed([&] { return atspi_text_get_character_count(text, &raw); });
    error.reset(raw);
    if (error)
        return std::nullopt;
    std::string result;
    for (gint start = 0; start < count; start += textChunk) {
        raw = nullptr;
        CharPtr piece(timed([&] {
            return atspi_text_get_text(text, start, std::min(count, start + textChunk), &raw);
        }));
        error.reset(raw);
        if (error || !piece)
            return std::nullopt;
        result += piece.get();
    }
    return result;
}

// UTF-16 units of the first `codePoints` code points of `text`.
std::int64_t unitsBefore(const std::u32string& text, std::int64_t codePoints) {
    std::int64_t units = 0;
    for (std::int64_t i = 0; i < codePoints && i < static_cast<std::int64_t>(text.size()); ++i)
        units += text[i] > 0xffff ? 2 : 1;
    return units;
}

// The code point at which `units` UTF-16 units of `text` end (rounded up past a pair).
std::int64_t codePointsBefore(const std::u32string& text, std::int64_t units) {
    std::int64_t seen = 0;
    std::int64_t i = 0;
    for (; i < static_cast<std::int64_t>(text.size()) && seen < units; ++i)
        seen += text[i] > 0xffff ? 2 : 1;
    return i;
}

std::u32string toUtf32(const std::string& utf8) {
    std::u32string result;
    const std::u16string units = Unicode::toUtf16(utf8);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xd800 && u <= 0xdbff && i + 1 < units.size()) {
            result.push_back(0x10000 + ((u - 0xd800) << 10) + (units[i + 1] - 0xdc00));
            ++i;
        } else {
            result.push_back(u);
        }
    }
    return result;
}

std::string toUtf8(const std::u32string& text) {
    std::u16string units;
    for (const char32_t c : text) {
        if (c > 0xffff) {
            units.push_back(static_cast<char16_t>(0xd800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xdc00 + ((c - 0x10000) & 0x3ff)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
    }
    return Unicode::toUtf8(units);
}

// The element with the focused state below `root`, depth first.
AtspiAccessible* searchFocused(AtspiAccessible* root, int& budget) {
    if (--budget < 0)
        return nullptr;
    if (hasLiveState(root, ATSPI_STATE_FOCUSED))
        return static_cast<AtspiAccessible*>(g_object_ref(root));
    GError* raw = nullptr;
    const gint count = timed([&] { return atspi_accessible_get_child_count(root, &raw); });
    ErrorPtr error(raw);
    if (error)
        return nullptr;
    for (gint i = 0; i < count && budget >= 0; ++i) {
        raw = nullptr;
        ObjectPtr<AtspiAccessible> child(
            timed([&] { return atspi_accessible_get_child_at_index(root, i, &raw); }));
        error.reset(raw);
        // Children are not judged by their showing state, which libatspi may hold as it was
        // when the application registered, before its window was mapped.
        if (!child)
            continue;
        if (AtspiAccessible* found = searchFocused(child.get(), budget))
            return found;
    }
    return nullptr;
}

std::int32_t processOf(AtspiAccessible* accessible) {
    return static_cast<std::int32_t>(atspi_accessible_get_process_id(accessible, nullptr));
}

// The first application of the desktop that `matches`; a new reference, or null.
template <typename Matches> AtspiAccessible* firstApplication(Matches matches) {
    ObjectPtr<AtspiAccessible> desktop(atspi_get_desktop(0));
    const gint count =
        timed([&] { return atspi_accessible_get_child_count(desktop.get(), nullptr); });
    for (gint i = 0; i < count; ++i) {
        ObjectPtr<AtspiAccessible> app(
            timed([&] { return atspi_accessible_get_child_at_index(desktop.get(), i, nullptr); }));
        if (app && matches(app.get()))
            return app.release();
    }
    return nullptr;
}

// The application element of the process `pid`; a new reference, or null. The process id of an
// application comes from the bus, not from the application, so a stopped one is found too.
AtspiAccessible* applicationOf(std::int32_t pid) {
    return firstApplication([pid](AtspiAccessible* app) { return processOf(app) == pid; });
}

// The application in front: the owner of the window the X server and the window manager say
// is in front. Only when no window names its process, the application whose toolkit marks one
// of its windows active. A new reference, or null.
AtspiAccessible* activeApplication(Display* display) {
    if (const auto front = FrontWindowX11::read(display))
        if (AtspiAccessible* app = applicationOf(front->pid))
            return app;
    return firstApplication([](AtspiAccessible* app) {
        const gint windows = timed([&] { return atspi_accessible_get_child_count(app, nullptr); });
        for (gint w = 0; w < windows; ++w) {
            ObjectPtr<AtspiAccessible> window(
                timed([&] { return atspi_accessible_get_child_at_index(app, w, nullptr); }));
            if (window && hasLiveState(window.get(), ATSPI_STATE_ACTIVE))
                return true;
        }
        return false;
    });
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    return line;
}

using Value = AXReply<AXAttributeValue>;

Value unsupported() {
    return {AXError::attributeUnsupported, {}};
}

// The window (frame, dialog) that holds the element; a new reference, or null.
AtspiAccessible* windowOf(AtspiAccessible* accessible) {
    ObjectPtr<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(accessible)));
    for (int depth = 0; current && depth < 100; ++depth) {
        const AtspiRole role =
            timed([&] { return atspi_accessible_get_role(current.get(), nullptr); });
        if (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG)
            return current.release();
        current.reset(timed([&] { return atspi_accessible_get_parent(current.get(), nullptr); }));
    }
    return nullptr;
}

bool hasEditableAncestor(AtspiAccessible* accessible) {
    ObjectPtr<AtspiAccessible> current(
        timed([&] { return atspi_accessible_get_parent(accessible, nullptr); }));
    for (int depth = 0; current && depth < 100; ++depth) {
        if (hasState(current.get(), ATSPI_STATE_EDITABLE))
            return true;
        current.reset(timed([&] { return atspi_accessible_get_parent(current.get(), nullptr); }));
    }
    return false;
}

// The focused element of an application: the one the focus events named, while it still has
// the focus, or else a search of the tree.
AtspiAccessible* focusedIn(AtspiAccessible* app, AtspiAccessible* tracked) {
    if (tracked && processOf(tracked) == processOf(app) &&
        hasLiveState(tracked, ATSPI_STATE_FOCUSED))
        return static_cast<AtspiAccessible*>(g_object_ref(tracked));
    int budget = searchLimit;
    return searchFocused(app, budget);
}

// Reads one text attribute, converting code points to UTF-16 units.
Value textAttribute(AtspiAccessible* accessible, const std::string& name) {
    ObjectPtr<AtspiText> text(timed([&] { return atspi_accessible_get_text_iface(accessible); }));
    if (!text)
        return name == "AXValue" ? Value{AXError::noValue, {}} : unsupported();
    ErrorPtr error;
    const auto whole = wholeText(text.get(), error);
    if (!whole)
        return {errorCode(error) == AXError::success ? AXError::failure : errorCode(error), {}};
    if (name == "AXValue")
        return {AXError::success, *whole};
    const std::u32string points = toUtf32(*whole);
    if (name == "AXNumberOfCharacters")
        return {AXError::success, unitsBefore(points, static_cast<std::int64_t>(points.size()))};
    GError* raw = nullptr;
    const gint selections = timed([&] { return atspi_text_get_n_selections(text.get(), &raw); });
    error.reset(raw);
    if (selections > 0) {
        raw = nullptr;
        std::unique_ptr<AtspiRange, GFree> range(
            timed([&] { return atspi_text_get_selection(text.get(), 0, &raw); }));
        error.reset(raw);
        if (range && range->end_offset > range->start_offset) {
            const auto from = unitsBefore(points, range->start_offset);
            const auto to = unitsBefore(points, range->end_offset);
            if (name == "AXSelectedText")
                return {AXError::success,
                        toUtf8(points.substr(range->start_offset,
                                             range->end_offset - range->start_offset))};
            return {AXError::success, AXRange{from, to - from}};
        }
    }
    if (name == "AXSelectedText")
        return {AXError::success, std::string()};
    raw = nullptr;
    const gint caret = timed([&] { return atspi_text_get_caret_offset(text.get(), &raw); });
    error.reset(raw);
    if (error || caret < 0)
        return {error ? errorCode(error) : AXError::noValue, {}};
    return {AXError::success, AXRange{unitsBefore(points, caret), 0}};
}

Value extents(AtspiAccessible* accessible, const std::string& name) {
    ObjectPtr<AtspiComponent> component(
        timed([&] { return atspi_accessible_get_component_iface(accessible); }));
    if (!component)
        return unsupported();
    GError* raw = nullptr;
    std::unique_ptr<AtspiRect, GFree> rect(timed([&] {
        return atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, &raw);
    }));
    ErrorPtr error(raw);
    if (error || !rect)
        return {error ? errorCode(error) : AXError::noValue, {}};
    if (name == "AXPosition")
        return {AXError::success,
                Point{static_cast<double>(rect->x), static_cast<double>(rect->y)}};
    return {AXError::success,
            Size{static_cast<double>(rect->width), static_cast<double>(rect->height)}};
}

Value attribute(AtspiAccessible* accessible, const std::string& name, AtspiAccessible* tracked,
                Display* display) {
    if (!accessible) {
        // The system-wide element knows only the application in front.
        if (name != "AXFocusedApplication")
            return unsupported();
        ObjectPtr<AtspiAccessible> app(activeApplication(display));
        return app ? Value{AXError::success, wrap(app.get())} : Value{AXError::noValue, {}};
    }
    if (name == "AXFocusedUIElement" || name == "AXFocusedWindow" || name == "AXWindow") {
        ObjectPtr<AtspiAccessible> found(
            name == "AXFocusedUIElement" ? focusedIn(accessible, tracked) : windowOf(accessible));
        if (name == "AXFocusedWindow" && !found) {
            ObjectPtr<AtspiAccessible> focused(focusedIn(accessible, tracked));
            if (focused)
                found.reset(windowOf(focused.get()));
        }
        return found ? Value{AXError::success, wrap(found.get())} : Value{AXError::noValue, {}};
    }
    if (name == "AXRole" || name == "AXSubrole") {
        ErrorPtr error;
        const AtspiRole role = roleOf(accessible, error);
        if (error)
            return {errorCode(error), {}};
        const auto mapped = mappedRole(accessible, role);
        if (name == "AXRole")
            return {AXError::success, mapped.first};
        return mapped.second ? Value{AXError::success, *mapped.second}
                             : Value{AXError::noValue, {}};
    }
    if (name == "AXEditableAncestor") {
        if (!hasEditableAncestor(accessible))
            return {AXError::noValue, {}};
        ObjectPtr<AtspiAccessible> parent(
            timed([&] { return atspi_accessible_get_parent(accessible, nullptr); }));
        return {AXError::success, wrap(parent.get())};
    }
    if (name == "AXPosition" || name == "AXSize")
        return extents(accessible, name);
    if (name == "AXTitle") {
        GError* raw = nullptr;
        CharPtr title(timed([&] { return atspi_accessible_get_name(accessible, &raw); }));
        ErrorPtr error(raw);
        return error ? Value{errorCode(error), {}}
                     : Value{AXError::success, std::string(title ? title.get() : "")};
    }
    if (name == "AXValue" || name == "AXNumberOfCharacters" || name == "AXSelectedTextRange" ||
        name == "AXSelectedText")
        return textAttribute(accessible, name);
    return unsupported();
}

Value stringForRange(AtspiAccessible* accessible, AXRange range) {
    ObjectPtr<AtspiText> text(timed([&] { return atspi_accessible_get_text_iface(accessible); }));
    if (!text)
        return unsupported();
    ErrorPtr error;
    const auto whole = wholeText(text.get(), error);
    if (!whole)
        return {errorCode(error) == AXError::success ? AXError::failure : errorCode(error), {}};
    const std::u32string points = toUtf32(*whole);
    const auto total = unitsBefore(points, static_cast<std::int64_t>(points.size()));
    if (range.location < 0 || range.length < 0 || range.location + range.length > total)
        return {AXError::failure, {}};
    const auto from = codePointsBefore(points, range.location);
    const auto to = codePointsBefore(points, range.location + range.length);
    return {AXError::success, toUtf8(points.substr(from, to - from))};
}

bool editable(AtspiAccessible* accessible) {
    ObjectPtr<AtspiEditableText> text(
        timed([&] { return atspi_accessible_get_editable_text_iface(accessible); }));
    return text && hasState(accessible, ATSPI_STATE_EDITABLE);
}

int write(AtspiAccessible* accessible, const std::string& name, const AXAttributeValue& value) {
    if (name == "AXValue") {
        const auto* string = std::get_if<std::string>(&value);
        ObjectPtr<AtspiEditableText> text(
            timed([&] { return atspi_accessible_get_editable_text_iface(accessible); }));
        if (!string || !text || !hasState(accessible, ATSPI_STATE_EDITABLE))
            return AXError::attributeUnsupported;
        GError* raw = nullptr;
        const gboolean done = timed([&] {
            return atspi_editable_text_set_text_contents(text.get(), string->c_str(), &raw);
        });
        ErrorPtr error(raw);
        return error ? errorCode(error) : done ? AXError::success : AXError::failure;
    }
    if (name == "AXSelectedTextRange") {
        const auto* range = std::get_if<AXRange>(&value);
        ObjectPtr<AtspiText> text(
            timed([&] { return atspi_accessible_get_text_iface(accessible); }));
        if (!range || !text)
            return AXError::attributeUnsupported;
        ErrorPtr error;
        const auto whole = wholeText(text.get(), error);
        if (!whole)
            return errorCode(error) == AXError::success ? AXError::failure : errorCode(error);
        const std::u32string points = toUtf32(*whole);
        const auto from = static_cast<gint>(codePointsBefore(points, range->location));
        const auto to =
            static_cast<gint>(codePointsBefore(points, range->location + range->length));
        GError* raw = nullptr;
        const gboolean done =
            range->length == 0
                ? timed([&] { return atspi_text_set_caret_offset(text.get(), from, &raw); })
                : timed([&] { return atspi_text_set_selection(text.get(), 0, from, to, &raw); });
        error.reset(raw);
        return error ? errorCode(error) : done ? AXError::success : AXError::failure;
    }
    return AXError::attributeUnsupported;
}

} // namespace

// The thread every libatspi call runs on, with its own main context. It sleeps in that
// context: libatspi's events wake it, and so does a caller that queues a job. Jobs run between
// iterations, never inside one, because libatspi iterates the context itself while it waits
// for a reply and a job run there would nest one call inside another.
struct AccessibilityAtspi::Thread : std::enable_shared_from_this<Thread> {
    explicit Thread(std::string display)
        : displayName(std::move(display)), context(g_main_context_new()) {}
    ~Thread() { g_main_context_unref(context); }

    std::mutex mutex;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    std::thread thread;
    const std::string displayName;
    GMainContext* const context;
    // Only on the thread.
    AtspiAccessible* focused = nullptr;
    Display* display = nullptr;
    bool displayTried = false;

    void post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex);
            jobs.push_back(std::move(job));
        }
        g_main_context_wakeup(context);
    }
    void stop() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        g_main_context_wakeup(context);
    }

    // The thread's own X connection, for the window in front; null without a display.
    Display* x11() {
        if (!displayTried) {
            displayTried = true;
            display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
            if (display)
                XErrorTrap::adopt(display, nullptr, nullptr);
        }
        return display;
    }

    void loop() {
        t_owner = weak_from_this();
        g_main_context_push_thread_default(context);
        atspi_set_main_context(context);
        atspi_init();
        // The focused element is known from the focus events, so a read need not walk the tree.
        AtspiEventListener* listener = atspi_event_listener_new(
            [](AtspiEvent* event, void* self) {
                auto* thread = static_cast<Thread*>(self);
                if (event->detail1 != 1 || !event->source)
                    return;
                if (thread->focused)
                    g_object_unref(thread->focused);
                thread->focused = static_cast<AtspiAccessible*>(g_object_ref(event->source));
            },
            this, nullptr);
        atspi_event_listener_register(listener, "object:state-changed:focused", nullptr);
        for (;;) {
            // Events that have come in are taken first, so that a job sees the focus as it
            // stands now.
            while (g_main_context_iteration(context, FALSE)) {
            }
            std::deque<std::function<void()>> due;
            {
                std::lock_guard lock(mutex);
                if (stopping)
                    break;
                due.swap(jobs);
            }
            for (auto& job : due)
                job();
            // A job queued after the swap has woken the context already, so this returns.
            if (due.empty())
                g_main_context_iteration(context, TRUE);
        }
        atspi_event_listener_deregister(listener, "object:state-changed:focused", nullptr);
        g_object_unref(listener);
        if (focused)
            g_object_unref(focused);
        if (display) {
            XCloseDisplay(display);
            XErrorTrap::release(display);
        }
        g_main_context_pop_thread_default(context);
    }
};

namespace {

void release(const std::weak_ptr<AccessibilityAtspi::Thread>& owner, AtspiAccessible* accessible) {
    const auto thread = owner.lock();
    if (!thread || std::this_thread::get_id() == thread->thread.get_id()) {
        g_object_unref(accessible);
        return;
    }
    thread->post([accessible] { g_object_unref(accessible); });
}

} // namespace

AccessibilityAtspi::AccessibilityAtspi(std::function<bool()> isTrusted, std::string display,
                                       std::string ownIdentity)
    : m_isTrusted(std::move(isTrusted)), m_displayName(std::move(display)),
      m_ownIdentity(std::move(ownIdentity)), m_thread(std::make_shared<Thread>(m_displayName)) {
    XErrorTrap::initThreads();
    m_thread->thread = std::thread([thread = m_thread] { thread->loop(); });
}

AccessibilityAtspi::~AccessibilityAtspi() {
    m_thread->stop();
    // A call stuck on a stopped application ends within libatspi's own timeout.
    m_thread->thread.join();
}

template <typename T>
std::optional<T> AccessibilityAtspi::call(float seconds, std::function<T()> job) {
    // Shared with the job: a caller that gave up leaves, and the job finishes into this.
    struct Answer {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::optional<T> value;
    };
    auto answer = std::make_shared<Answer>();
    const int atspiMs = std::max(1, static_cast<int>(seconds * 1000 / 2));
    m_thread->post([answer, atspiMs, job = std::move(job)] {
        atspi_set_timeout(atspiMs, atspiMs);
        t_callLimit = std::chrono::milliseconds(atspiMs);
        t_timedOut = false;
        T value = job();
        const bool timedOut = t_timedOut;
        t_callLimit = std::chrono::milliseconds(0);
        std::lock_guard inner(answer->mutex);
        if (!timedOut)
            answer->value = std::move(value);
        answer->done = true;
        answer->cv.notify_all();
    });
    std::unique_lock lock(answer->mutex);
    answer->cv.wait_for(lock, std::chrono::duration<float>(seconds), [&] { return answer->done; });
    return answer->value;
}

float AccessibilityAtspi::timeoutOf(const AXElement& element) const {
    const auto* handle = handleOf(element);
    const float seconds = handle ? handle->timeout.load() : 0;
    return seconds > 0 ? seconds : defaultTimeout;
}

bool AccessibilityAtspi::isProcessTrusted() {
    return m_isTrusted();
}

AXElement AccessibilityAtspi::systemWide() {
    static const AXElement system = std::make_shared<AtspiHandle>(nullptr);
    return system;
}

AXElement AccessibilityAtspi::applicationElement(std::int32_t pid) {
    auto found = call<AXElement>(defaultTimeout, [pid] {
        ObjectPtr<AtspiAccessible> app(applicationOf(pid));
        return wrap(app.get());
    });
    return found ? *found : nullptr;
}

std::optional<RunningApplication> AccessibilityAtspi::frontmostApplication() {
    auto thread = m_thread;
    const auto pid = call<std::int32_t>(defaultTimeout, [thread]() -> std::int32_t {
        if (const auto front = FrontWindowX11::read(thread->x11()))
            return front->pid;
        ObjectPtr<AtspiAccessible> app(activeApplication(nullptr));
        return app ? processOf(app.get()) : 0;
    });
    if (!pid || *pid <= 0)
        return std::nullopt;
    return runningApplication(*pid);
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
    auto thread = m_thread;
    const auto front = call<std::optional<FrontWindow>>(
        defaultTimeout, [thread] { return FrontWindowX11::read(thread->x11()); });
    app.bundleID = AppIdentity::identify(AppCluesProc::read(pid, front ? *front : std::nullopt));
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
    auto reply = call<AXReply<std::int32_t>>(timeoutOf(element), [element, handle] {
        GError* raw = nullptr;
        const guint pid = atspi_accessible_get_process_id(handle->accessible(), &raw);
        ErrorPtr error(raw);
        return AXReply<std::int32_t>{errorCode(error), static_cast<std::int32_t>(pid)};
    });
    return reply ? *reply : AXReply<std::int32_t>{AXError::cannotComplete, 0};
}

AXReply<AXAttributeValue> AccessibilityAtspi::copy(const AXElement& element,
                                                   const std::string& name) {
    const auto* handle = handleOf(element);
    if (!handle)
        return {AXError::invalidUIElement, {}};
    auto thread = m_thread;
    auto reply = call<Value>(timeoutOf(element), [element, handle, name, thread] {
        return attribute(handle->accessible(), name, thread->focused, thread->x11());
    });
    return reply ? *reply : Value{AXError::cannotComplete, {}};
}

AXReply<std::optional<std::vector<AXAttributeValue>>>
AccessibilityAtspi::copyMultiple(const AXElement& element, const std::vector<std::string>& names) {
    using Many = AXReply<std::optional<std::vector<AXAttributeValue>>>;
    const auto* handle = handleOf(element);
    if (!handle)
        return {AXError::invalidUIElement, std::nullopt};
    auto thread = m_thread;
    auto reply = call<Many>(timeoutOf(element), [element, handle, names, thread] {
        std::vector<AXAttributeValue> values;
        for (const auto& name : names) {
            auto one = attribute(handle->accessible(), name, thread->focused, thread->x11());
            if (one.error == AXError::cannotComplete)
                return Many{AXError::cannotComplete, std::nullopt};
            values.push_back(one.ok() ? std::move(one.value)
                                      : AXAttributeValue(AXUnreadable{one.error}));
        }
        return Many{AXError::success, std::move(values)};
    });
    return reply ? *reply : Many{AXError::cannotComplete, std::nullopt};
}

AXReply<AXAttributeValue> AccessibilityAtspi::copyParameterized(const AXElement& element,
                                                                const std::string& name,
                                                                const AXAttributeValue& parameter) {
    const auto* handle = handleOf(element);
    const auto* range = std::get_if<AXRange>(&parameter);
    if (!handle || handle->isSystemWide())
        return {AXError::invalidUIElement, {}};
    if (name != "AXStringForRange" || !range)
        return unsupported();
    auto reply = call<Value>(timeoutOf(element), [element, handle, range = *range] {
        return stringForRange(handle->accessible(), range);
    });
    return reply ? *reply : Value{AXError::cannotComplete, {}};
}

AXReply<bool> AccessibilityAtspi::isSettable(const AXElement& element, const std::string& name) {
    const auto* handle = handleOf(element);
    if (!handle || handle->isSystemWide())
        return {AXError::invalidUIElement, false};
    auto reply = call<AXReply<bool>>(timeoutOf(element), [element, handle, name] {
        if (name == "AXValue")
            return AXReply<bool>{AXError::success, editable(handle->accessible())};
        if (name == "AXSelectedTextRange") {
            ObjectPtr<AtspiText> text(
                timed([&] { return atspi_accessible_get_text_iface(handle->accessible()); }));
            return AXReply<bool>{AXError::success, text != nullptr};
        }
        return AXReply<bool>{AXError::success, false};
    });
    return reply ? *reply : AXReply<bool>{AXError::cannotComplete, false};
}

int AccessibilityAtspi::set(const AXElement& element, const std::string& name,
                            const AXAttributeValue& value) {
    const auto* handle = handleOf(element);
    if (!handle || handle->isSystemWide())
        return AXError::invalidUIElement;
    if (name == "AXManualAccessibility" || name == "AXEnhancedUserInterface")
        return requestAccessibilityTree(element);
    auto reply = call<int>(timeoutOf(element), [element, handle, name, value] {
        return write(handle->accessible(), name, value);
    });
    return reply ? *reply : AXError::cannotComplete;
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
    Display* display = XOpenDisplay(m_displayName.empty() ? nullptr : m_displayName.c_str());
    if (!display)
        return 0;
    const double height = DisplayHeight(display, DefaultScreen(display));
    XCloseDisplay(display);
    return height;
}

} // namespace talverin
