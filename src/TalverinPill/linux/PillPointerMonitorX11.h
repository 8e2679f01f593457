#pragma once

#include <functional>
#include <string>

struct _XDisplay;

namespace talverin {

// Reports pointer motion and button releases anywhere on the desktop, from XInput 2 raw events
// on the root window. The events come on an X connection of its own, so the selections the
// toolkit makes on its connection stay untouched, and its descriptor is a GLib source of the
// default main context only while the monitor runs. A server that goes away ends the monitor,
// not the process. Main thread only.
class PillPointerMonitorX11 {
public:
    // `displayName` is the toolkit's display, so both connections meet the same server.
    explicit PillPointerMonitorX11(std::string displayName);
    ~PillPointerMonitorX11();
    PillPointerMonitorX11(const PillPointerMonitorX11&) = delete;
    PillPointerMonitorX11& operator=(const PillPointerMonitorX11&) = delete;

    // One call per batch of raw events read together: the pointer moved or a button went up.
    std::function<void()> onEvent;

    // Opens the connection and selects the events; nothing when it runs. False, with the
    // reason logged once, when the server cannot give them.
    bool start();
    // Closes the connection and removes its source; nothing when it does not run.
    void stop();
    bool running() const { return m_display != nullptr; }

private:
    static int dispatch(int fd, unsigned condition, void* self);
    static void connectionLost(void* self);
    // Answers whether any raw event came.
    bool readEvents();

    std::string m_displayName;
    _XDisplay* m_display = nullptr;
    unsigned m_source = 0;
    int m_opcode = 0;
    bool m_lost = false;
    bool m_said = false; // the reason it cannot run was logged
};

} // namespace talverin
