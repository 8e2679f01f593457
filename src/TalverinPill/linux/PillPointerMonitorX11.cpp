#include "TalverinPill/linux/PillPointerMonitorX11.h"

#include "Runtime/linux/XErrorTrap.h"
#include "TalverinCore/CoreLog.h"

#include <glib-unix.h>
#include <glib.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace talverin {

PillPointerMonitorX11::PillPointerMonitorX11(std::string displayName)
    : m_displayName(std::move(displayName)) {}

PillPointerMonitorX11::~PillPointerMonitorX11() {
    stop();
}

bool PillPointerMonitorX11::start() {
    if (m_display)
        return true;
    XErrorTrap::initThreads();
    Display* display = XOpenDisplay(m_displayName.c_str());
    auto refuse = [&](const char* reason) {
        if (!m_said)
            CoreLog::write(std::string("pill: no pointer monitors: ") + reason);
        m_said = true;
        return false;
    };
    if (!display)
        return refuse("the X server refused a connection");
    m_lost = false;
    m_display = display;
    XErrorTrap::adopt(display, &PillPointerMonitorX11::connectionLost, this);
    int event = 0, error = 0, major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &m_opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success || major < 2) {
        stop();
        return refuse("the X server offers no XInput 2");
    }
    // Raw events reach every client that selects them on the root, whatever the grabs, and
    // leave the toolkit's own selections on its connection alone.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawMotion);
    XISetMask(bits, XI_RawButtonRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XSync(display, False);
    if (m_lost) {
        stop();
        return refuse("the X connection broke");
    }
    m_source = g_unix_fd_add(
        ConnectionNumber(display), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
        reinterpret_cast<GUnixFDSourceFunc>(&PillPointerMonitorX11::dispatch), this);
    return true;
}

void PillPointerMonitorX11::stop() {
    if (m_source)
        g_source_remove(m_source);
    m_source = 0;
    if (!m_display)
        return;
    Display* display = m_display;
    m_display = nullptr;
    XCloseDisplay(display);
    XErrorTrap::release(display);
}

void PillPointerMonitorX11::connectionLost(void* self) {
    static_cast<PillPointerMonitorX11*>(self)->m_lost = true;
}

int PillPointerMonitorX11::dispatch(int, unsigned condition, void* context) {
    auto* self = static_cast<PillPointerMonitorX11*>(context);
    const bool any = (condition & G_IO_IN) && self->readEvents();
    if (self->m_lost || (condition & (G_IO_HUP | G_IO_ERR))) {
        CoreLog::write("pill: the pointer monitors lost the X server");
        // The source goes with this return; stop must not remove it a second time.
        self->m_source = 0;
        self->stop();
        return G_SOURCE_REMOVE;
    }
    if (any && self->onEvent)
        self->onEvent();
    return G_SOURCE_CONTINUE;
}

bool PillPointerMonitorX11::readEvents() {
    bool any = false;
    // XPending reads what the socket holds; a burst of motion becomes one report.
    while (!m_lost && XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == GenericEvent && event.xcookie.extension == m_opcode)
            any = true;
    }
    return any;
}

} // namespace talverin
