#include "Talverin/App/PillCoordinator.h"

#include "Runtime/MainQueue.h"
#include "Talverin/App/Log.h"

#include <chrono>
#include <string>
#include <utility>

namespace talverin {

namespace {

// The last onboarding step before the idle bar may show to a user who has not finished.
constexpr int lastStepWithoutIdleBar = 4;

} // namespace

PillCoordinator::PillCoordinator(PillPresenting& pill, KeyTapping& keyTap,
                                 std::function<std::vector<Wire::Microphone>()> microphones,
                                 Settings settings, double hideFor)
    : m_pill(pill), m_keyTap(keyTap), m_microphones(std::move(microphones)), m_hideFor(hideFor),
      m_settings(std::move(settings)) {}

PillCoordinator::~PillCoordinator() { m_alive.end(); }

void PillCoordinator::start() {
    auto alive = m_alive.token();
    m_pill.onClick = [this, alive] {
        if (alive)
            startHandsFree();
    };
    m_pill.onMenu = [this, alive](const PillMenuAction& action) {
        if (alive)
            menu(action);
    };
    m_pill.onSpotChanged = [this, alive](PillSpot spot) {
        if (!alive)
            return;
        tlLog("Pill: moved to " + std::string(toString(spot)));
        updateSettings({.pillSpot = spot});
    };
    // Escape is watched only while a drag runs, so that it stays the other programs' key.
    m_pill.onDragChanged = [this, alive](bool dragging) {
        if (alive)
            m_keyTap.setWatchesEscape(dragging);
    };
    m_keyTap.onEscapeWatched = [this, alive](double) {
        if (alive && m_pill.isDragging())
            m_pill.cancelDrag();
    };
    m_pill.setSpot(m_settings.pillSpot, false);
    m_pill.setHoldKey(m_settings.holdKey);
    devicesChanged();
    apply();
}

void PillCoordinator::menu(const PillMenuAction& action) {
    switch (action.kind()) {
    case PillMenuAction::Kind::hideForAnHour:
        tlLog("Pill menu: hide for an hour");
        hideForAWhile();
        return;
    case PillMenuAction::Kind::resetSpot:
        tlLog("Pill menu: back to bottom centre");
        updateSettings({.pillSpot = PillSpot::bottomCenter});
        return;
    case PillMenuAction::Kind::openSettings:
        tlLog("Pill menu: settings");
        openSettings();
        return;
    case PillMenuAction::Kind::microphone:
        // The device's identifier stays out of the log.
        tlLog(std::string("Pill menu: microphone (") + (action.id() ? "a device" : "automatic") + ")");
        // Present but empty is the patch's "clear": the automatic choice is stored as no device.
        updateSettings({.microphoneID = std::optional<std::optional<std::string>>(action.id())});
        return;
    }
}

void PillCoordinator::settingsChanged(const Settings& now, const Settings& before) {
    m_settings = now;
    if (now.pillIdle && !before.pillIdle && m_hiddenForAWhile) {
        m_hiddenForAWhile = false;
        ++m_hideToken;
    }
    if (now.pillSpot != before.pillSpot)
        m_pill.setSpot(now.pillSpot, true);
    if (now.microphoneID != before.microphoneID) {
        PillMicrophoneMenu menu = m_pill.microphoneMenu();
        menu.selectedID = now.microphoneID;
        m_pill.setMicrophoneMenu(std::move(menu));
    }
    if (now.holdKey != before.holdKey)
        m_pill.setHoldKey(now.holdKey);
    apply();
}

void PillCoordinator::apply() {
    const bool showsIdleBar =
        m_settings.pillIdle && !m_hiddenForAWhile &&
        (m_settings.onboarded || m_settings.onboardingStep > lastStepWithoutIdleBar);
    if (m_pill.showsIdleBar() != showsIdleBar)
        m_pill.setShowsIdleBar(showsIdleBar);
    if (m_pill.isDragEnabled() != m_settings.onboarded)
        m_pill.setDragEnabled(m_settings.onboarded);
}

void PillCoordinator::hideForAWhile() {
    m_hiddenForAWhile = true;
    const std::uint64_t token = ++m_hideToken;
    m_hideUntil = Clock::now() + std::chrono::duration_cast<WallTime::duration>(
                                     std::chrono::duration<double>(m_hideFor));
    apply();
    MainQueue::afterWallClock(m_hideFor, [this, alive = m_alive.token(), token] {
        if (alive && token == m_hideToken && m_hiddenForAWhile)
            endHide();
    });
}

void PillCoordinator::didWake() {
    if (m_hiddenForAWhile && Clock::now() >= m_hideUntil)
        endHide();
}

void PillCoordinator::endHide() {
    m_hiddenForAWhile = false;
    ++m_hideToken;
    tlLog("Pill: the idle bar is back after the hour");
    apply();
}

void PillCoordinator::devicesChanged() {
    m_pill.setMicrophoneMenu({m_microphones ? m_microphones() : std::vector<Wire::Microphone>{},
                              m_settings.microphoneID});
}

} // namespace talverin
