#include "TalverinInsert/linux/ClipboardConnectionX11.h"

#include <X11/Xatom.h>
#include <X11/extensions/XRes.h>

namespace talverin {

void ClipboardConnectionX11::deliveredText(Window requestor, std::int64_t of) {
    if (of != ownCount || !owner || servedCount == of)
        return;
    if (isFocusedClient(requestor))
        servedCount = of;
}

std::optional<ClipboardConnectionX11::Client> ClipboardConnectionX11::clientOf(Window w) {
    if (!hasXRes || w == None)
        return std::nullopt;
    // What we ask of the window's client: its resource base and its process.
    XResClientIdSpec asked{w, XRES_CLIENT_ID_XID_MASK | XRES_CLIENT_ID_PID_MASK};
    long n = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display, 1, &asked, &n, &values) != Success)
        return std::nullopt;
    Client client;
    for (long i = 0; i < n; ++i) {
        // XRes returns each answer with the request it answers; that request names the base.
        const XResClientIdSpec& answered = values[i].spec;
        client.base = answered.client;
        if (const pid_t pid = XResGetClientPid(&values[i]); pid > 0)
            client.pid = pid;
    }
    XResClientIdsDestroy(n, values);
    return client;
}

Window ClipboardConnectionX11::focusedWindow() {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    if (focus != None && focus != PointerRoot)
        return focus;
    Atom type = None;
    int format = 0;
    unsigned long n = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    Window active = None;
    if (XGetWindowProperty(display, DefaultRootWindow(display), atom("_NET_ACTIVE_WINDOW"), 0, 1,
                           False, XA_WINDOW, &type, &format, &n, &after, &data) == Success &&
        data) {
        if (n == 1 && format == 32)
            active = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
        XFree(data);
    }
    return active;
}

// Whether the requestor belongs to the focused application, rather than to a clipboard
// manager copying what we offer. Processes are compared where the server knows them.
bool ClipboardConnectionX11::isFocusedClient(Window requestor) {
    const auto same = [](const Client& a, const Client& b) {
        if (a.pid > 0 && b.pid > 0)
            return a.pid == b.pid;
        return a.base == b.base;
    };
    const auto reader = clientOf(requestor);
    if (const auto focused = clientOf(focusedWindow()); reader && focused)
        return same(*reader, *focused);
    // Nobody can say whose the focus is (no window manager names it): any reader but a
    // clipboard manager is taken for the target, or every paste would be reported as not made.
    const auto keeper = clientOf(XGetSelectionOwner(display, manager));
    return !(reader && keeper && same(*reader, *keeper));
}

} // namespace talverin
