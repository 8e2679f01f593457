#pragma once

// What the end-to-end dictation sees of the desktop from outside the application: the key it
// holds down through XTest, the windows that appear and go on the X server, and the focused
// text field as the accessibility tree shows it.

#include "support/LinuxTestSupport.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <atspi/atspi.h>
#include <poll.h>

namespace talverin::test {

// Presses and releases keys by their X keycode, as a keyboard would.
class Keyboard {
public:
    explicit Keyboard(const std::string& display) : m_display(XOpenDisplay(display.c_str())) {}
    ~Keyboard() {
        if (m_display)
            XCloseDisplay(m_display);
    }
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    Display* display() const { return m_display; }

    void press(unsigned keycode) {
        post(keycode, true);
        XSync(m_display, False);
    }
    void release(unsigned keycode) {
        post(keycode, false);
        XSync(m_display, False);
    }
    // Presses and releases the key `times` times in one go: the server stamps the events
    // together, however slowly this program runs.
    void tap(unsigned keycode, int times = 1) {
        for (int i = 0; i < times; ++i) {
            post(keycode, true);
            post(keycode, false);
        }
        XSync(m_display, False);
    }

private:
    void post(unsigned keycode, bool down) {
        if (m_display)
            XTestFakeKeyEvent(m_display, keycode, down ? True : False, CurrentTime);
    }

    Display* m_display = nullptr;
};

// Notes, on a thread of its own, each top-level window with the given title that is mapped
// and each of those unmapped again, from its start on.
class WindowWatch {
public:
    WindowWatch(const std::string& display, std::string title) : m_title(std::move(title)) {
        m_display = XOpenDisplay(display.c_str());
        if (!m_display)
            return;
        XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
        XSync(m_display, False);
        m_thread = std::thread([this] { run(); });
    }
    ~WindowWatch() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_display)
            XCloseDisplay(m_display);
    }
    WindowWatch(const WindowWatch&) = delete;
    WindowWatch& operator=(const WindowWatch&) = delete;

    int shown() const {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }
    int hidden() const {
        std::lock_guard lock(m_mutex);
        return m_hidden;
    }

private:
    void run() {
        while (!m_stop) {
            pollfd readable{ConnectionNumber(m_display), POLLIN, 0};
            if (XPending(m_display) == 0 && ::poll(&readable, 1, 50) <= 0)
                continue;
            while (XPending(m_display) > 0) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == MapNotify && titled(event.xmap.window)) {
                    std::lock_guard lock(m_mutex);
                    m_windows.insert(event.xmap.window);
                    ++m_shown;
                } else if (event.type == UnmapNotify) {
                    std::lock_guard lock(m_mutex);
                    if (m_windows.contains(event.xunmap.window))
                        ++m_hidden;
                }
            }
        }
    }

    bool titled(Window window) {
        char* name = nullptr;
        if (!XFetchName(m_display, window, &name) || !name)
            return false;
        const bool same = m_title == name;
        XFree(name);
        return same;
    }

    std::string m_title;
    Display* m_display = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::set<Window> m_windows;
    int m_shown = 0;
    int m_hidden = 0;
};

// The focused text of an application as a screen reader reads it.
struct FocusedText {
    std::string role;
    std::string text;
    int caret = -1;
    std::string selection;
};

// Reads the accessibility tree of the application named `application` (its program name)
// and answers the focused element that holds text; none when there is no such element.
// libatspi finds the accessibility bus through DISPLAY and the session bus of the process.
inline std::optional<FocusedText> readFocusedText(const std::string& application) {
    static const bool initialised = [] {
        atspi_init();
        return true;
    }();
    (void)initialised;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop)
        return std::nullopt;
    std::optional<FocusedText> found;
    // Depth first, through a small tree.
    auto visit = [&](auto&& self, AtspiAccessible* node, int depth) -> void {
        if (found || depth > 12)
            return;
        AtspiStateSet* states = atspi_accessible_get_state_set(node);
        const bool focused = states && atspi_state_set_contains(states, ATSPI_STATE_FOCUSED);
        if (states)
            g_object_unref(states);
        if (focused) {
            if (AtspiText* text = atspi_accessible_get_text_iface(node)) {
                FocusedText read;
                if (gchar* role = atspi_accessible_get_role_name(node, nullptr)) {
                    read.role = role;
                    g_free(role);
                }
                if (gchar* all = atspi_text_get_text(text, 0, -1, nullptr)) {
                    read.text = all;
                    g_free(all);
                }
                read.caret = atspi_text_get_caret_offset(text, nullptr);
                if (atspi_text_get_n_selections(text, nullptr) > 0) {
                    AtspiRange* range = atspi_text_get_selection(text, 0, nullptr);
                    if (range) {
                        if (gchar* selected =
                                atspi_text_get_text(text, range->start_offset, range->end_offset,
                                                    nullptr)) {
                            read.selection = selected;
                            g_free(selected);
                        }
                        g_free(range);
                    }
                }
                g_object_unref(text);
                found = read;
                return;
            }
        }
        const gint children = atspi_accessible_get_child_count(node, nullptr);
        for (gint i = 0; i < children && !found; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr);
            if (!child)
                continue;
            self(self, child, depth + 1);
            g_object_unref(child);
        }
    };
    const gint applications = atspi_accessible_get_child_count(desktop, nullptr);
    for (gint i = 0; i < applications && !found; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!app)
            continue;
        gchar* name = atspi_accessible_get_name(app, nullptr);
        if (name && application == name) {
            // What the tree kept of an earlier read may be out of date.
            atspi_accessible_clear_cache(app);
            visit(visit, app, 0);
        }
        g_free(name);
        g_object_unref(app);
    }
    g_object_unref(desktop);
    return found;
}

} // namespace talverin::test
