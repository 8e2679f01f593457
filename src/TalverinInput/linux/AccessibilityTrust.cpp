#include "TalverinInput/linux/AccessibilityTrust.h"

#include "Runtime/linux/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace talverin {

AccessibilityTrust::AccessibilityTrust(std::shared_ptr<AccessibilityStatusReading> status,
                                       std::string display)
    : m_status(std::move(status)), m_display(std::move(display)) {
    // The check may run on the tap thread as well as on the main thread.
    XErrorTrap::initThreads();
}

bool AccessibilityTrust::isGranted() {
    return isBusEnabled() && hasXInput();
}

bool AccessibilityTrust::isBusEnabled() const {
    return m_status->status() == AccessibilityStatusReading::BusStatus::enabled;
}

void AccessibilityTrust::refresh() {
    m_status->refresh();
}

AccessibilityStatusReading::Enabling AccessibilityTrust::requestEnable() {
    return m_status->requestEnable();
}

bool AccessibilityTrust::hasXInput() {
    if (m_hasXInput)
        return true;
    Display* display = XOpenDisplay(m_display.empty() ? nullptr : m_display.c_str());
    if (!display)
        return false;
    XErrorTrap::adopt(display, nullptr, nullptr);
    int opcode = 0;
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    const bool offered = XQueryExtension(display, "XInputExtension", &opcode, &event, &error) &&
                         XIQueryVersion(display, &major, &minor) == Success &&
                         (major > 2 || (major == 2 && minor >= 1));
    XCloseDisplay(display);
    XErrorTrap::release(display);
    if (offered)
        m_hasXInput = true;
    return offered;
}

} // namespace talverin
