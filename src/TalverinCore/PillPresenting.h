#pragma once

#include "TalverinCore/HoldKey.h"
#include "TalverinCore/PillMenuAction.h"
#include "TalverinCore/PillMicrophoneMenu.h"
#include "TalverinCore/PillSpot.h"
#include "TalverinCore/PillState.h"
#include "TalverinCore/ScreenGeometry.h"

#include <functional>
#include <optional>
#include <string>

namespace talverin {

// The floating pill. Every member is used on the main thread and every callback arrives there.
class PillPresenting {
public:
    virtual ~PillPresenting() = default;

    // Main thread. The input device named in the silence state's detail.
    virtual std::optional<std::string> microphoneName() const = 0;
    virtual void setMicrophoneName(std::optional<std::string> name) = 0;
    // Main thread: the stop button of the hands-free state.
    std::function<void()> onStop;
    // Main thread. Shows a state, on the screen with that visible frame when one is given.
    virtual void show(const PillState& state, std::optional<Rect> screenFrame) = 0;
    // Main thread. Nothing is to be shown.
    virtual void hide() = 0;
    // Main thread. Keep the idle bar visible while no state is shown.
    virtual bool showsIdleBar() const = 0;
    virtual void setShowsIdleBar(bool shows) = 0;
    // Main thread. The current spot.
    virtual PillSpot spot() const = 0;
    // Main thread. Moves the pill to a spot.
    virtual void setSpot(PillSpot spot, bool animated) = 0;
    // Main thread. The model of the microphone submenu.
    virtual PillMicrophoneMenu microphoneMenu() const = 0;
    virtual void setMicrophoneMenu(PillMicrophoneMenu menu) = 0;
    // Main thread. The key named in the hover hint.
    virtual HoldKey holdKey() const = 0;
    virtual void setHoldKey(HoldKey key) = 0;
    // Main thread: a click on the resting pill or its microphone button.
    std::function<void()> onClick;
    // Main thread: a choice in the context menu.
    std::function<void(const PillMenuAction& action)> onMenu;
    // Main thread. The hold key went down or up; while holding, no hover or press effects.
    virtual void setHolding(bool holding) = 0;
    // Main thread. Whether the pill can be dragged; turning it off cancels a running drag.
    virtual bool isDragEnabled() const = 0;
    virtual void setDragEnabled(bool enabled) = 0;
    // Main thread. True while a drag is in progress.
    virtual bool isDragging() const = 0;
    // Main thread: a drag began (true) or ended (false).
    std::function<void(bool dragging)> onDragChanged;
    // Main thread: the user dropped the pill on a spot.
    std::function<void(PillSpot spot)> onSpotChanged;
    // Main thread. Ends a drag as cancelled and puts the pill back; nothing when none runs.
    virtual void cancelDrag() = 0;

    // Shows a state without a screen frame. An implementation that overrides the two-argument
    // show() should say `using PillPresenting::show;` to keep this one visible.
    void show(const PillState& state) { show(state, std::nullopt); }
};

} // namespace talverin
