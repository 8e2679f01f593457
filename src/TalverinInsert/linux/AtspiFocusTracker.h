#pragma once

#include "TalverinInsert/linux/AtspiBus.h"

#include <memory>
#include <mutex>
#include <thread>

namespace talverin {

// Follows the desktop's focus events, so that a reading finds the focused element with one
// question instead of a search. It listens on a thread of its own with a GLib context of its
// own, woken only when an application says that one of its elements took the focus. An element
// focused before we listened sends no event; the search covers that.
class AtspiFocusTracker {
public:
    explicit AtspiFocusTracker(std::shared_ptr<AtspiBus> bus);
    ~AtspiFocusTracker();
    AtspiFocusTracker(const AtspiFocusTracker&) = delete;
    AtspiFocusTracker& operator=(const AtspiFocusTracker&) = delete;

    // Any thread. The element that last said it took the focus; empty when none has.
    AtspiObject lastFocused() const;

private:
    void loop();
    void noteFocus(AtspiObject object, bool focused);

    std::shared_ptr<AtspiBus> m_bus;
    GMainContext* m_context;
    mutable std::mutex m_mutex;
    AtspiObject m_focused;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace talverin
