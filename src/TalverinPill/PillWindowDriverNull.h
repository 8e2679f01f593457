#pragma once

#include "Runtime/MainQueue.h"
#include "TalverinPill/PillWindowDriver.h"

#include <string>
#include <utility>

namespace talverin {

// The window driver when there is no display to put a window on: no screens, no pointer, no
// announcements and no menu. The window is only remembered, so the panel's own bookkeeping
// (ordered in, ordered out, its frame) stays coherent, and delayed work still runs.
class PillWindowDriverNull final : public PillWindowDriver {
public:
    static constexpr const char* noDisplay = "no display";

    explicit PillWindowDriverNull(std::string reason = noDisplay) : m_reason(std::move(reason)) {}

    // Why the real driver is not there; the composition root logs it.
    const std::string& reason() const { return m_reason; }

    std::vector<PillScreen> screens() const override { return {}; }
    Point pointerLocation() const override { return {}; }
    bool isLeftButtonDown() const override { return false; }
    bool reduceMotion() const override { return false; }
    bool isVisible() const override { return m_visible; }
    Rect frame() const override { return m_frame; }
    void setFrame(const Rect& frame) override { m_frame = frame; }
    bool ignoresMouse() const override { return m_ignoresMouse; }
    void setIgnoresMouse(bool ignores) override { m_ignoresMouse = ignores; }
    void orderFront() override { m_visible = true; }
    void orderOut() override { m_visible = false; }
    void layout() override {}
    void display() override {}
    void startMonitors() override {}
    void stopMonitors() override {}
    void announce(const std::string&, PillAnnouncePriority) override {}
    void popUpMenu(const std::vector<PillMenuItem>&, Point,
                   std::function<void(const PillMenuAction&)>) override {}
    void after(double seconds, std::function<void()> work) override {
        MainQueue::after(seconds, std::move(work));
    }

private:
    std::string m_reason;
    bool m_visible = false;
    Rect m_frame{{0, 0}, {500, 124}};
    bool m_ignoresMouse = true;
};

} // namespace talverin
