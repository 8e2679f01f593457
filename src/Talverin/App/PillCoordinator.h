#pragma once

#include "Runtime/EventLoop.h"
#include "Runtime/Liveness.h"
#include "TalverinCore/KeyTapping.h"
#include "TalverinCore/PillMenuAction.h"
#include "TalverinCore/PillMetrics.h"
#include "TalverinCore/PillPresenting.h"
#include "TalverinCore/Settings.h"
#include "TalverinCore/WireMicrophone.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace talverin {

// Keeps the pill in step with the settings (spot, hold key, microphone menu, idle bar, drag
// permission) and turns what the user does with the pill (click, menu, drag, Escape during a
// drag) into settings changes or calls into the shell. Implements "hide for an hour", which
// follows the wall clock, so that time asleep counts towards the hour. Main thread only.
class PillCoordinator {
public:
    PillCoordinator(PillPresenting& pill, KeyTapping& keyTap,
                    std::function<std::vector<Wire::Microphone>()> microphones, Settings settings,
                    double hideFor = PillMetrics::idleHiddenFor);
    ~PillCoordinator();
    PillCoordinator(const PillCoordinator&) = delete;
    PillCoordinator& operator=(const PillCoordinator&) = delete;

    // Applies a patch to the settings (the bridge does it, and then reports the change).
    std::function<void(const Settings::Patch&)> updateSettings = [](const Settings::Patch&) {};
    std::function<void()> startHandsFree = [] {};
    std::function<void()> openSettings = [] {};

    // Installs the pill's and the key tap's callbacks and brings the pill to the settings.
    void start();
    void settingsChanged(const Settings& now, const Settings& before);
    void menu(const PillMenuAction& action);
    void hideForAWhile();
    // The machine woke: a hide whose hour ran out while it slept ends now.
    void didWake();
    // The input devices changed: the pill's microphone menu lists them anew.
    void devicesChanged();
    // The idle bar and the drag permission as the settings and the hide say.
    void apply();

    bool isHiddenForAWhile() const { return m_hiddenForAWhile; }

private:
    void endHide();

    PillPresenting& m_pill;
    KeyTapping& m_keyTap;
    std::function<std::vector<Wire::Microphone>()> m_microphones;
    double m_hideFor;
    Settings m_settings;
    bool m_hiddenForAWhile = false;
    // When the running hide ends, on the wall clock.
    WallTime m_hideUntil;
    // Changes at each hide and at each end of one; a pending end from before is stale.
    std::uint64_t m_hideToken = 0;
    Liveness m_alive;
};

} // namespace talverin
