#pragma once

#include "TalverinCore/PillPresenting.h"
#include "fakes/CallLog.h"

#include <optional>
#include <string>
#include <vector>

namespace talverin::test {

// A pill that records what it is asked to show. The test plays the user with click(),
// chooseMenu(), pressStop() and the drag members, which call the callbacks at once, on the
// main thread, as the window system's events would.
class PillPresentingFake final : public PillPresenting {
public:
    struct Shown {
        PillState state;
        std::optional<Rect> screenFrame;
        double time = 0;
    };

    CallLog log;

    using PillPresenting::show;
    std::optional<std::string> microphoneName() const override { return m_microphoneName; }
    void setMicrophoneName(std::optional<std::string> name) override;
    void show(const PillState& state, std::optional<Rect> screenFrame) override;
    void hide() override;
    bool showsIdleBar() const override { return m_showsIdleBar; }
    void setShowsIdleBar(bool shows) override;
    PillSpot spot() const override { return m_spot; }
    void setSpot(PillSpot spot, bool animated) override;
    PillMicrophoneMenu microphoneMenu() const override { return m_menu; }
    void setMicrophoneMenu(PillMicrophoneMenu menu) override;
    HoldKey holdKey() const override { return m_holdKey; }
    void setHoldKey(HoldKey key) override;
    void setHolding(bool holding) override;
    bool isDragEnabled() const override { return m_dragEnabled; }
    void setDragEnabled(bool enabled) override;
    bool isDragging() const override { return m_dragging; }
    void cancelDrag() override;

    // Every show(), in order; hide() is not among them.
    const std::vector<Shown>& shown() const { return m_shown; }
    // What is on screen: the last state shown, or hidden after hide().
    PillState current() const { return m_current; }
    bool isHolding() const { return m_holding; }

    void click();
    void chooseMenu(const PillMenuAction& action);
    void pressStop();
    // False when dragging is off or a drag runs already.
    bool beginDrag();
    // Ends the running drag on a spot; false when no drag runs.
    bool dropOn(PillSpot spot);

private:
    void endDrag();

    std::optional<std::string> m_microphoneName;
    bool m_showsIdleBar = true;
    PillSpot m_spot = PillSpot::bottomCenter;
    PillMicrophoneMenu m_menu;
    HoldKey m_holdKey = HoldKey::rightOption;
    bool m_holding = false;
    bool m_dragEnabled = true;
    bool m_dragging = false;
    std::vector<Shown> m_shown;
    PillState m_current;
};

} // namespace talverin::test
