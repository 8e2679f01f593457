#include "TalverinInsert/linux/ClipboardConnectionX11.h"

#include "TalverinInsert/linux/PasteboardX11.h"

#include <poll.h>

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

namespace talverin {

std::string ClipboardConnectionX11::name(Atom a) {
    if (a == None)
        return {};
    char* text = XGetAtomName(display, a);
    if (!text)
        return {};
    std::string result(text);
    XFree(text);
    return result;
}

// Our own change of owner is reported only once the server has it.
std::int64_t ClipboardConnectionX11::syncedCount() {
    if (!lost)
        XSync(display, False);
    pump();
    return count;
}

void ClipboardConnectionX11::pump() {
    while (!lost && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handle(event);
    }
}

// Handles what arrives until `done` holds or the deadline passes; answers `done()`.
bool ClipboardConnectionX11::waitUntil(const std::function<bool()>& done, double deadline) {
    for (;;) {
        pump();
        if (done())
            return true;
        const double left = deadline - now();
        if (lost || left <= 0)
            return false;
        pollfd readable{ConnectionNumber(display), POLLIN, 0};
        ::poll(&readable, 1, static_cast<int>(left * 1000) + 1);
    }
}

void ClipboardConnectionX11::handle(XEvent& event) {
    if (event.type == fixesEvent + XFixesSelectionNotify) {
        if (reinterpret_cast<XFixesSelectionNotifyEvent&>(event).selection == clipboard)
            ++count;
        return;
    }
    switch (event.type) {
    case SelectionRequest:
        answer(event.xselectionrequest);
        break;
    case SelectionClear:
        if (event.xselectionclear.selection == clipboard)
            disown();
        break;
    case SelectionNotify:
        if (event.xselection.requestor == window)
            notified = event.xselection;
        break;
    case PropertyNotify:
        if (event.xproperty.window == window) {
            if (event.xproperty.atom == property && event.xproperty.state == PropertyNewValue)
                newValue = true;
            if (event.xproperty.atom == stamp)
                stampTime = event.xproperty.time;
        } else if (event.xproperty.state == PropertyDelete) {
            continueOutgoing(event.xproperty.window, event.xproperty.atom);
        }
        break;
    case DestroyNotify:
        std::erase_if(outgoing, [&](const Outgoing& o) {
            return o.requestor == event.xdestroywindow.window;
        });
        break;
    default:
        break;
    }
}

void ClipboardConnectionX11::disown() {
    owner = false;
    offered.clear();
    outgoing.clear();
}

// A server time for owning the clipboard: ICCCM asks for one, and TIMESTAMP answers it.
Time ClipboardConnectionX11::serverTime() {
    stampTime.reset();
    unsigned char nothing = 0;
    XChangeProperty(display, window, stamp, XA_INTEGER, 8, PropModeAppend, &nothing, 0);
    XFlush(display);
    waitUntil([&] { return stampTime.has_value(); }, now() + PasteboardX11::requestTimeout);
    return stampTime.value_or(CurrentTime);
}

} // namespace talverin
