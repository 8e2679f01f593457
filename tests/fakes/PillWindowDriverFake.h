#pragma once

#include "Runtime/MainQueue.h"
#include "TalverinPill/PillWindowDriver.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talverin::test {

// A window driver on the virtual world. The test sets the screens, the pointer, the left
// button and reduce motion, plays the user through mouse(), moveTo() and changeScreens(),
// and reads back what the panel did to the window, in order and with the uptime of each
// call. Delayed work goes to the main queue, so the virtual clock decides when it runs.
class PillWindowDriverFake final : public PillWindowDriver {
public:
    // One thing the panel did to the window.
    struct Op {
        enum class Kind {
            setFrame,
            setIgnoresMouse,
            orderFront,
            orderOut,
            layout,
            display,
            startMonitors,
            stopMonitors
        };
        Kind kind;
        double time = 0;
        Rect frame;           // setFrame
        bool ignores = false; // setIgnoresMouse
    };
    struct Announcement {
        std::string text;
        PillAnnouncePriority priority;
        double time = 0;
    };
    struct Menu {
        std::vector<PillMenuItem> items;
        Point at;
        std::function<void(const PillMenuAction&)> pick;
    };
    struct Delay {
        double seconds = 0;
        double time = 0; // when it was asked for
    };

    std::vector<PillScreen> screenList;
    Point pointer;
    bool leftButtonDown = false;
    bool reduceMotionOn = false;

    std::vector<PillScreen> screens() const override { return screenList; }
    Point pointerLocation() const override { return pointer; }
    bool isLeftButtonDown() const override { return leftButtonDown; }
    bool reduceMotion() const override { return reduceMotionOn; }
    bool isVisible() const override { return m_visible; }
    Rect frame() const override { return m_frame; }
    void setFrame(const Rect& frame) override {
        m_frame = frame;
        record(Op::Kind::setFrame).frame = frame;
    }
    bool ignoresMouse() const override { return m_ignoresMouse; }
    void setIgnoresMouse(bool ignores) override {
        m_ignoresMouse = ignores;
        record(Op::Kind::setIgnoresMouse).ignores = ignores;
    }
    void orderFront() override {
        m_visible = true;
        record(Op::Kind::orderFront);
    }
    void orderOut() override {
        m_visible = false;
        record(Op::Kind::orderOut);
    }
    void layout() override { record(Op::Kind::layout); }
    void display() override { record(Op::Kind::display); }
    void startMonitors() override {
        m_monitors = true;
        record(Op::Kind::startMonitors);
    }
    void stopMonitors() override {
        m_monitors = false;
        record(Op::Kind::stopMonitors);
    }
    void announce(const std::string& text, PillAnnouncePriority priority) override {
        announcements.push_back({text, priority, Clock::uptime()});
    }
    void popUpMenu(const std::vector<PillMenuItem>& items, Point at,
                   std::function<void(const PillMenuAction&)> pick) override {
        menus.push_back({items, at, std::move(pick)});
    }
    void after(double seconds, std::function<void()> work) override {
        delays.push_back({seconds, Clock::uptime()});
        MainQueue::after(seconds, std::move(work));
    }

    std::vector<Op> ops;
    std::vector<Announcement> announcements;
    std::vector<Menu> menus;
    std::vector<Delay> delays;

    bool monitorsRunning() const { return m_monitors; }

    // The operations of one kind, in order.
    std::vector<Op> opsOf(Op::Kind kind) const {
        std::vector<Op> found;
        for (const Op& op : ops)
            if (op.kind == kind)
                found.push_back(op);
        return found;
    }
    std::size_t count(Op::Kind kind) const { return opsOf(kind).size(); }

    // The user: an event on the window; answers whether the panel consumed it (false when no
    // panel listens). An event with a point also moves the pointer there.
    bool mouse(const PillMouseEvent& event) {
        if (event.kind() != PillMouseEvent::Kind::moved)
            pointer = event.point();
        if (event.kind() == PillMouseEvent::Kind::down)
            leftButtonDown = true;
        if (event.kind() == PillMouseEvent::Kind::up)
            leftButtonDown = false;
        return onMouse ? onMouse(event) : false;
    }
    // The pointer moves to p with the buttons as they are; the monitors report it.
    bool moveTo(Point p) {
        pointer = p;
        return mouse(PillMouseEvent::moved());
    }
    // The displays change.
    void changeScreens(std::vector<PillScreen> screens) {
        screenList = std::move(screens);
        if (onScreensChanged)
            onScreensChanged();
    }
    // The user picks an action in the last menu; false without a menu. The pick arrives on a
    // later turn of the main queue, as a real menu delivers it.
    bool choose(const PillMenuAction& action) {
        if (menus.empty() || !menus.back().pick)
            return false;
        MainQueue::post([pick = menus.back().pick, action] { pick(action); });
        return true;
    }

private:
    Op& record(Op::Kind kind) {
        ops.push_back({kind, Clock::uptime(), {}, false});
        return ops.back();
    }

    bool m_visible = false;
    Rect m_frame{{0, 0}, {500, 124}};
    bool m_ignoresMouse = true;
    bool m_monitors = false;
};

} // namespace talverin::test
