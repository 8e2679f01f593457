#pragma once

#include "Runtime/Liveness.h"
#include "Talverin/App/MenuBarIcon.h"
#include "TalverinCore/PillState.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace talverin {

// Decides which frame of the status item's glyph shows, and when: while a dictation is active
// it follows the pill's state thirty times a second; otherwise it rests and no timer runs.
// A new image goes to the status item only when the frame changes. Main thread only.
class MenuBarGlyph {
public:
    // The status item owns the glyph and gives it these; the defaults keep a glyph alone at rest.
    std::function<PillState()> pillState = [] { return stateOf(nullptr); };
    std::function<void(const MenuBarIcon::Image&)> apply = [](const MenuBarIcon::Image&) {};
    // Seconds of uptime.
    std::function<double()> now;
    // The desktop asks for less motion (GTK's "gtk-enable-animations" turned off).
    std::function<bool()> reduceMotion = [] { return false; };
    bool usesTimer = true;

    MenuBarGlyph();
    ~MenuBarGlyph();
    MenuBarGlyph(const MenuBarGlyph&) = delete;
    MenuBarGlyph& operator=(const MenuBarGlyph&) = delete;

    static constexpr double tickInterval = 1.0 / 30;

    // What the pill shows, for the state source: the listening state with no text and no level
    // when there is no pill.
    static PillState stateOf(const PillState* current);

    bool isActive() const { return m_active; }
    const MenuBarIcon::Frame& frame() const { return m_frame; }

    void setActive(bool active);
    void tick();
    void show(const MenuBarIcon::Frame& frame);

private:
    void startTimer();
    void scheduleTick(std::uint64_t generation);
    void forget();

    bool m_active = false;
    MenuBarIcon::Frame m_frame = MenuBarIcon::Idle{};
    // Each start of the timer and each stop makes the ticks of an earlier timer stale.
    std::uint64_t m_timerGeneration = 0;
    std::vector<float> m_levels; // newest last, at most two
    std::optional<float> m_lastLevel;
    std::optional<double> m_polishingSince;
    bool m_still = false; // reduce motion, as it was when polishing began
    Liveness m_alive;
};

} // namespace talverin
