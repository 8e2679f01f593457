#pragma once

#include "Runtime/Milliseconds.h"
#include "TalverinCore/PillState.h"

#include <cmath>
#include <cstdint>
#include <map>

namespace talverin {

// The dictation controller's timing constants. The service bundle carries one set and the
// controller copies it when it is made; nothing else in the controller assumes a value. The
// member initialisers are the values the application runs with.
struct DictationTiming {
    double showDelay = 0.13;         // key-down to the first pill
    double cautiousShowDelay = 0.45; // the same with the popover open or secure input on
    double tapMax = 0.25;            // a release sooner than this after key-down is a tap
    double doubleTapWindow = 0.35;   // wait after a tap's release for a second press
    double doubleTapSlack = 0.03;    // added to that window
    int postRollMs = 150;            // recording kept after a hold's release
    int contextTimeoutMs = 100;      // accessibility messaging timeout of one context read
    double contextWait = 0.6;        // longest wait for the context once the clip is in hand
    double activationMax = 0.5;      // longest wait for the target after the popover closed
    double activationPoll = 0.02;    // poll period of that wait
    double handsFreeMax = 118;       // a hands-free dictation stops this long after key-down
    double handsFreeTick = 0.5;      // refresh period of the hands-free pill
    double levelInterval = 1.0 / 30; // least gap between two levels sent to the pill
    // How long each result pill stays.
    std::map<PillState::Kind, double> resultHold = {
        {PillState::Kind::inserted, 1.1}, {PillState::Kind::copied, 2.4},
        {PillState::Kind::learned, 1.8},  {PillState::Kind::offline, 2.4},
        {PillState::Kind::silence, 2.0},  {PillState::Kind::refused, 2.6},
        {PillState::Kind::limit, 3.0},
    };

    // A kind without an entry stays as long as the plainest result.
    double resultHoldFor(PillState::Kind kind) const {
        auto it = resultHold.find(kind);
        return it == resultHold.end() ? 2.0 : it->second;
    }
};

} // namespace talverin
