#pragma once

// What a user sees, read from the X server as another client: the windows that are mapped,
// the pixels of the screen, a window manager to run, and clicks as a user makes them.

#include "support/LinuxTestSupport.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace talverin::test {

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// A connection of the test's own to the X server of the application under test.
class Screen {
public:
    explicit Screen(const std::string& display) : m_display(XOpenDisplay(display.c_str())) {}
    ~Screen() {
        if (m_display)
            XCloseDisplay(m_display);
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;
    bool isOpen() const { return m_display != nullptr; }

    // The first viewable window of that title and width, searched from the root down (a window
    // manager puts the application's window inside a frame of its own), in root coordinates.
    std::optional<ScreenRect> viewableWindow(const std::string& title, int width) {
        return find(DefaultRootWindow(m_display), title, width, 0);
    }

    // How many different colours the screen shows in the rectangle (cut to the screen). A page
    // with text shows dozens; a window that shows only its background, or nothing, one or two.
    int colours(ScreenRect rect) {
        const int screenWidth = DisplayWidth(m_display, DefaultScreen(m_display));
        const int screenHeight = DisplayHeight(m_display, DefaultScreen(m_display));
        const int x0 = std::max(rect.x, 0), y0 = std::max(rect.y, 0);
        const int x1 = std::min(rect.x + rect.width, screenWidth);
        const int y1 = std::min(rect.y + rect.height, screenHeight);
        if (x1 <= x0 || y1 <= y0)
            return 0;
        XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), x0, y0,
                                  static_cast<unsigned>(x1 - x0), static_cast<unsigned>(y1 - y0),
                                  AllPlanes, ZPixmap);
        if (!image)
            return 0;
        std::set<unsigned long> seen;
        for (int y = 0; y < y1 - y0; ++y)
            for (int x = 0; x < x1 - x0; ++x)
                seen.insert(XGetPixel(image, x, y));
        XDestroyImage(image);
        return static_cast<int>(seen.size());
    }

    // The colour of one pixel of the screen, as 0xRRGGBB.
    std::uint32_t pixel(int x, int y) {
        XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), x, y, 1, 1, AllPlanes,
                                  ZPixmap);
        if (!image)
            return 0;
        const auto value = static_cast<std::uint32_t>(XGetPixel(image, 0, 0) & 0xFFFFFF);
        XDestroyImage(image);
        return value;
    }

    // A window manager of this display runs (it has named its check window on the root).
    bool hasWindowManager() {
        Atom check = XInternAtom(m_display, "_NET_SUPPORTING_WM_CHECK", True);
        if (check == None)
            return false;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const bool found = XGetWindowProperty(m_display, DefaultRootWindow(m_display), check, 0,
                                              1, False, XA_WINDOW, &type, &format, &count, &after,
                                              &data) == Success &&
                           count == 1;
        if (data)
            XFree(data);
        return found;
    }

    // A window of another client that takes the keyboard focus, as an application the user
    // clicks into does; its id.
    unsigned long focusWindowOfAnotherClient(int width = 50, int height = 50) {
        Window other = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0,
                                           static_cast<unsigned>(width),
                                           static_cast<unsigned>(height), 0, 0, 0xFFFFFF);
        XMapRaised(m_display, other);
        XSync(m_display, False);
        // Mapped is not yet viewable for a window manager that reparents it first.
        for (int i = 0; i < 500; ++i) {
            XWindowAttributes attributes{};
            XGetWindowAttributes(m_display, other, &attributes);
            if (attributes.map_state == IsViewable)
                break;
            usleep(10'000);
        }
        XSetInputFocus(m_display, other, RevertToParent, CurrentTime);
        XSync(m_display, False);
        return other;
    }

    // The window is mapped and its ancestors too.
    bool isViewable(unsigned long window) {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(m_display, window, &attributes) &&
               attributes.map_state == IsViewable;
    }

    // Whether window `a` is stacked above window `b`, comparing the windows (or the window
    // manager's frames around them) that are children of the root.
    bool isAbove(unsigned long a, unsigned long b) {
        const Window root = DefaultRootWindow(m_display);
        auto topLevel = [&](Window w) {
            for (;;) {
                Window r = None, parent = None;
                Window* children = nullptr;
                unsigned int count = 0;
                if (!XQueryTree(m_display, w, &r, &parent, &children, &count))
                    return Window(None);
                if (children)
                    XFree(children);
                if (parent == root || parent == None)
                    return w;
                w = parent;
            }
        };
        const Window ta = topLevel(a), tb = topLevel(b);
        Window r = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(m_display, root, &r, &parent, &children, &count))
            return false;
        int ia = -1, ib = -1;
        for (unsigned int i = 0; i < count; ++i) {
            if (children[i] == ta)
                ia = static_cast<int>(i);
            if (children[i] == tb)
                ib = static_cast<int>(i);
        }
        if (children)
            XFree(children);
        return ia > ib && ib >= 0;
    }

    // Asks a window to close as a window manager's close button does (WM_DELETE_WINDOW).
    bool askToClose(unsigned long window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        const bool sent = XSendEvent(m_display, window, False, NoEventMask, &event) != 0;
        XSync(m_display, False);
        return sent;
    }

    // Waits, without handling any event of the product, until the X input focus is no longer
    // on the window or inside it.
    bool waitForFocusToLeave(unsigned long window, double seconds) {
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(seconds));
        while (std::chrono::steady_clock::now() < end) {
            Window focus = None;
            int revert = 0;
            XGetInputFocus(m_display, &focus, &revert);
            if (!holds(window, focus))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    _XDisplay* display() const { return m_display; }

private:
    // Whether the focus window is the window or one of its descendants.
    bool holds(Window window, Window focus) {
        for (Window w = focus; w != None && w != PointerRoot;) {
            if (w == window)
                return true;
            Window root = None, parent = None;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_display, w, &root, &parent, &children, &count))
                return false;
            if (children)
                XFree(children);
            if (parent == root || parent == None)
                return false;
            w = parent;
        }
        return false;
    }

    std::optional<ScreenRect> find(Window window, const std::string& title, int width,
                                   int depth) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(m_display, window, &attributes) ||
            attributes.map_state != IsViewable)
            return std::nullopt;
        char* name = nullptr;
        if (depth > 0 && XFetchName(m_display, window, &name) && name) {
            const bool same = title == name;
            XFree(name);
            if (same && attributes.width == width) {
                int x = 0, y = 0;
                Window child = None;
                XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x,
                                      &y, &child);
                return ScreenRect{x, y, attributes.width, attributes.height};
            }
        }
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(m_display, window, &root, &parent, &children, &count))
            return std::nullopt;
        std::optional<ScreenRect> found;
        // Topmost first.
        for (unsigned int i = count; i-- > 0 && !found;)
            found = find(children[i], title, width, depth + 1);
        if (children)
            XFree(children);
        return found;
    }

    _XDisplay* m_display;
};

// A program of the test's own on the test's display (a window manager, a click), ended when
// the object goes.
class Program {
public:
    Program(const std::string& display, std::initializer_list<const char*> arguments) {
        std::vector<char*> argv;
        for (const char* argument : arguments)
            argv.push_back(const_cast<char*>(argument));
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            setenv("DISPLAY", display.c_str(), 1);
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Program() {
        if (m_pid > 0 && !m_ended) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Stops the program and lets it go on: a window manager that is slow to answer.
    void pause() { kill(m_pid, SIGSTOP); }
    void resume() { kill(m_pid, SIGCONT); }

    // Waits for the program to end by itself; its exit code, or -1.
    int wait() {
        int status = 0;
        if (waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        m_ended = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    bool m_ended = false;
};

// A click of the first button at a point of the screen, as the user makes it.
inline bool clickAt(const std::string& display, int x, int y) {
    const std::string sx = std::to_string(x), sy = std::to_string(y);
    Program click(display, {"xdotool", "mousemove", sx.c_str(), sy.c_str(), "click", "1"});
    return click.wait() == 0;
}

} // namespace talverin::test
