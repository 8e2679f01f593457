#include "Talverin/App/MenuBarGlyph.h"

#include "Runtime/MainQueue.h"

namespace talverin {

MenuBarGlyph::MenuBarGlyph() : now([] { return Clock::uptime(); }) {}

MenuBarGlyph::~MenuBarGlyph() { m_alive.end(); }

PillState MenuBarGlyph::stateOf(const PillState* current) {
    return current ? *current : PillState::listening("", 0);
}

void MenuBarGlyph::setActive(bool active) {
    if (active) {
        if (!m_active) {
            m_active = true;
            if (usesTimer)
                startTimer();
        }
        tick();
        return;
    }
    if (!m_active)
        return;
    m_active = false;
    ++m_timerGeneration;
    forget();
    show(MenuBarIcon::Idle{});
}

void MenuBarGlyph::forget() {
    m_polishingSince.reset();
    m_levels.clear();
    m_lastLevel.reset();
}

void MenuBarGlyph::tick() {
    if (!m_active)
        return;
    const PillState state = pillState();
    // The outcomes shown for a moment: the dictation is over, the glyph rests.
    if (state.isTransient()) {
        forget();
        show(MenuBarIcon::Idle{});
        return;
    }
    switch (state.kind()) {
    case PillState::Kind::listening:
        m_polishingSince.reset();
        if (!m_lastLevel || *m_lastLevel != state.level()) {
            m_lastLevel = state.level();
            m_levels.push_back(state.level());
            if (m_levels.size() > 2)
                m_levels.erase(m_levels.begin());
        }
        show(MenuBarIcon::Listening{MenuBarIcon::bars(m_levels)});
        return;
    case PillState::Kind::polishing: {
        const double t = now();
        if (!m_polishingSince) {
            m_polishingSince = t;
            m_still = reduceMotion();
        }
        show(MenuBarIcon::polishing(t - *m_polishingSince, m_still));
        return;
    }
    default:
        // Hidden, hands-free and voice edit: the resting bars.
        forget();
        show(MenuBarIcon::Listening{MenuBarIcon::bars({})});
        return;
    }
}

void MenuBarGlyph::show(const MenuBarIcon::Frame& frame) {
    if (frame == m_frame)
        return;
    m_frame = frame;
    apply(MenuBarIcon::image(frame));
}

void MenuBarGlyph::startTimer() { scheduleTick(++m_timerGeneration); }

// A tick schedules the next one, so at most one waits at a time; a stop or a new start changes
// the generation, and the tick that waits then ends the old chain.
void MenuBarGlyph::scheduleTick(std::uint64_t generation) {
    MainQueue::after(tickInterval, [this, alive = m_alive.token(), generation] {
        if (!alive || generation != m_timerGeneration)
            return;
        tick();
        if (generation == m_timerGeneration)
            scheduleTick(generation);
    });
}

} // namespace talverin
