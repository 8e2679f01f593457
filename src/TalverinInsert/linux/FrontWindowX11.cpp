#include "TalverinInsert/linux/FrontWindowX11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace talverin {

namespace {

// One CARDINAL or WINDOW value of a window's property; nothing when it is not set.
std::optional<unsigned long> longProperty(Display* display, Window window, const char* name,
                                          Atom type) {
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None)
        return std::nullopt;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, atom, 0, 1, False, type, &actualType, &format, &count,
                           &left, &data) != Success)
        return std::nullopt;
    std::optional<unsigned long> value;
    if (data && actualType == type && format == 32 && count == 1)
        value = reinterpret_cast<unsigned long*>(data)[0];
    if (data)
        XFree(data);
    return value;
}

Window parentOf(Display* display, Window window) {
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return None;
    if (children)
        XFree(children);
    return parent == root ? None : parent;
}

} // namespace

std::optional<FrontWindow> FrontWindowX11::read(Display* display) {
    if (!display)
        return std::nullopt;
    const Window root = DefaultRootWindow(display);
    Window window = None;
    if (const auto active = longProperty(display, root, "_NET_ACTIVE_WINDOW", XA_WINDOW))
        window = *active;
    if (window == None) {
        int revert = 0;
        XGetInputFocus(display, &window, &revert);
        if (window == PointerRoot || window == root)
            window = None;
    }
    // The focus may sit on a child of the toplevel, which alone carries the process id. A
    // window that went away in between answers nothing, and the walk ends.
    for (int depth = 0; window != None && depth < 32; ++depth) {
        if (const auto pid = longProperty(display, window, "_NET_WM_PID", XA_CARDINAL)) {
            FrontWindow front;
            front.window = window;
            front.pid = static_cast<std::int32_t>(*pid);
            XClassHint hint{};
            if (XGetClassHint(display, window, &hint)) {
                if (hint.res_name)
                    front.instanceName = hint.res_name;
                if (hint.res_class)
                    front.className = hint.res_class;
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
            return front;
        }
        window = parentOf(display, window);
    }
    return std::nullopt;
}

} // namespace talverin
