#include "Talverin/App/linux/FrontApplicationsX11.h"

#include "TalverinInsert/linux/FrontWindowX11.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>

namespace talverin {

std::unique_ptr<FrontApplicationsX11> FrontApplicationsX11::open(const char* displayName) {
    Display* display = XOpenDisplay(displayName);
    if (!display)
        return nullptr;
    return std::unique_ptr<FrontApplicationsX11>(new FrontApplicationsX11(display));
}

FrontApplicationsX11::~FrontApplicationsX11() { XCloseDisplay(m_display); }

std::optional<RunningApp> FrontApplicationsX11::frontmost() {
    auto front = FrontWindowX11::read(m_display);
    if (!front)
        return std::nullopt;
    return RunningApp{front->window, front->pid};
}

void FrontApplicationsX11::activate(const RunningApp& app) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = app.window;
    event.xclient.message_type = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // a request on the user's behalf, as a pager makes it
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, DefaultRootWindow(m_display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(m_display);
}

bool FrontApplicationsX11::hasTerminated(const RunningApp& app) {
    return app.pid > 0 && ::kill(app.pid, 0) != 0 && errno == ESRCH;
}

} // namespace talverin
