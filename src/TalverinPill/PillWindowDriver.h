#pragma once

#include "TalverinCore/PillMenuAction.h"
#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillMenuItem.h"
#include "TalverinPill/PillMouseEvent.h"
#include "TalverinPill/PillScreen.h"

#include <functional>
#include <string>
#include <vector>

namespace talverin {

// How loudly a screen reader should say an announcement.
enum class PillAnnouncePriority { normal, high };

// Everything the pill panel needs from the window system: the displays and the pointer, one
// borderless overlay window that never takes the keyboard focus, the mouse monitors that keep
// reporting the pointer while the pill is on screen, the context menu, screen-reader
// announcements and delayed work. The panel reaches the window system through nothing else.
//
// Every member is called on the main thread, and every callback arrives there. A driver whose
// display has gone keeps answering with harmless values (no screens, a hidden window) and the
// panel falls back to its stand-by screen.
class PillWindowDriver {
public:
    virtual ~PillWindowDriver() = default;

    // Main thread. Every display, the primary one first; empty when none is known.
    virtual std::vector<PillScreen> screens() const = 0;
    // Main thread. The pointer's location in screen coordinates; (0, 0) without a display.
    virtual Point pointerLocation() const = 0;
    // Main thread. Whether the left mouse button is down right now; false without a display.
    virtual bool isLeftButtonDown() const = 0;
    // Main thread. The desktop's reduce-motion (or no-animations) setting, read afresh.
    virtual bool reduceMotion() const = 0;

    // Main thread. Whether the window is ordered in (mapped).
    virtual bool isVisible() const = 0;
    // Main thread. The window's frame in screen coordinates, as last set.
    virtual Rect frame() const = 0;
    // Main thread. Moves and resizes the window without drawing it; the frame is taken as it
    // is, even under panels or past the screen's edges.
    virtual void setFrame(const Rect& frame) = 0;
    // Main thread. Whether mouse events pass through the window to what lies below it.
    virtual bool ignoresMouse() const = 0;
    virtual void setIgnoresMouse(bool ignores) = 0;
    // Main thread. Shows the window above others without taking the focus or activating us.
    virtual void orderFront() = 0;
    // Main thread. Hides the window; nothing when it is hidden.
    virtual void orderOut() = 0;
    // Main thread. Lays out the window's content for its current frame.
    virtual void layout() = 0;
    // Main thread. Draws the window now when something in it changed and it is visible.
    virtual void display() = 0;

    // Main thread. Starts reporting pointer motion and left-button events anywhere on the
    // desktop as `moved`; a second start keeps the one pair of monitors.
    virtual void startMonitors() = 0;
    // Main thread. Stops those reports; nothing when none run.
    virtual void stopMonitors() = 0;

    // Main thread. Has a running screen reader say the text; nothing without one.
    virtual void announce(const std::string& text, PillAnnouncePriority priority) = 0;
    // Main thread. Shows the context menu at a screen point. A choice calls `pick` once, on
    // a later turn of the main queue after the menu has closed; an item without an action
    // calls nothing, and neither does closing the menu without a choice.
    virtual void popUpMenu(const std::vector<PillMenuItem>& items, Point at,
                           std::function<void(const PillMenuAction& action)> pick) = 0;
    // Main thread. Runs the work on the main queue once `seconds` have passed. It is never
    // cancelled: the work itself checks whether it is still wanted.
    virtual void after(double seconds, std::function<void()> work) = 0;

    // Main thread: the displays or their arrangement changed.
    std::function<void()> onScreensChanged;
    // Main thread: a mouse event on the window or from the monitors; answers whether the
    // panel consumed it (an unconsumed event goes on to the window's content).
    std::function<bool(const PillMouseEvent& event)> onMouse;
};

} // namespace talverin
