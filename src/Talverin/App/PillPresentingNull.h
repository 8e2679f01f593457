#pragma once

#include "TalverinCore/PillPresenting.h"

#include <optional>
#include <string>

namespace talverin {

// The pill where no pill window can be shown (no display, or no window driver in this
// build): it keeps what it is told, so the shell and the controller read back their own
// choices, and shows nothing. `reason` says why, for the launch log.
class PillPresentingNull final : public PillPresenting {
public:
    explicit PillPresentingNull(std::string reason, HoldKey holdKey = HoldKey::rightOption)
        : m_reason(std::move(reason)), m_holdKey(holdKey) {}

    const std::string& reason() const { return m_reason; }

    std::optional<std::string> microphoneName() const override { return m_microphoneName; }
    void setMicrophoneName(std::optional<std::string> name) override {
        m_microphoneName = std::move(name);
    }
    using PillPresenting::show;
    void show(const PillState&, std::optional<Rect>) override {}
    void hide() override {}
    bool showsIdleBar() const override { return m_showsIdleBar; }
    void setShowsIdleBar(bool shows) override { m_showsIdleBar = shows; }
    PillSpot spot() const override { return m_spot; }
    void setSpot(PillSpot spot, bool) override { m_spot = spot; }
    PillMicrophoneMenu microphoneMenu() const override { return m_menu; }
    void setMicrophoneMenu(PillMicrophoneMenu menu) override { m_menu = std::move(menu); }
    HoldKey holdKey() const override { return m_holdKey; }
    void setHoldKey(HoldKey key) override { m_holdKey = key; }
    void setHolding(bool) override {}
    bool isDragEnabled() const override { return false; }
    void setDragEnabled(bool) override {}
    bool isDragging() const override { return false; }
    void cancelDrag() override {}

private:
    std::string m_reason;
    HoldKey m_holdKey;
    std::optional<std::string> m_microphoneName;
    bool m_showsIdleBar = false;
    PillSpot m_spot{};
    PillMicrophoneMenu m_menu;
};

} // namespace talverin
