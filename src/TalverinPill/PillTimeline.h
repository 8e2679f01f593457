#pragma once

#include "TalverinPill/PillStage.h"
#include "TalverinPill/PillStep.h"

#include <vector>

namespace talverin {

// Every change of the pill's shape as a short list of timed steps, which the panel plays and
// applies to the overlay model. Under reduce motion every list is one immediate step. Pure:
// any thread.
class PillTimeline {
public:
    PillTimeline() = delete;

    // Seconds.
    static constexpr double dropHold = 0.18;           // the grow step after the drop
    static constexpr double collapseHold = 0.22;       // the second hide step
    static constexpr double contentAfterGrow = 0.22;   // content after a grow or a direct morph
    static constexpr double contentAfterChange = 0.06; // content after a width change
    static constexpr double hoverContentDelay = 0.04;
    static constexpr double hoverDwell = 0.12;  // the pointer rests before the hover form grows
    static constexpr double hoverGrace = 0.2;   // before the hover form collapses
    static constexpr double bubbleDelay = 0.08; // the hint bubble's fade-in

    // A state pill of that width appears from the current stage.
    static std::vector<PillStep> show(double width, const PillStage& from, bool island,
                                      bool reduceMotion);
    // The shown pill changes width.
    static PillStep change(double from, double to, bool reduceMotion);
    // The state pill goes, leaving the idle bar or nothing.
    static std::vector<PillStep> hide(bool idleBar, bool island, bool reduceMotion);
    static PillStep idleBar(bool on, bool reduceMotion);
    static PillStep hoverIn(bool reduceMotion);
    static PillStep hoverOut(bool reduceMotion);

    // How long the list takes to come to rest: the latest end of its steps, where a step ends
    // when the last of its springs has settled and its fade has run.
    static double duration(const std::vector<PillStep>& steps);
};

} // namespace talverin
