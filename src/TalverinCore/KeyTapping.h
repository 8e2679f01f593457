#pragma once

#include "TalverinCore/HoldKey.h"
#include "TalverinCore/KeyCancelReason.h"
#include "TalverinCore/KeyCaptureResult.h"

#include <functional>

namespace talverin {

// The hold-key event tap. Its thread decides presses, taps and cancels and relays them to the
// callbacks below on the main thread; every timestamp is the key event's uptime in seconds.
// Callers use every member on the main thread. A callback assigned again replaces the first.
class KeyTapping {
public:
    virtual ~KeyTapping() = default;

    // Main thread. The key whose holds are reported; later holds are judged against a new key.
    virtual HoldKey holdKey() const = 0;
    virtual void setHoldKey(HoldKey key) = 0;
    // Main thread. True while a new hold key is being captured; false when no tap runs.
    virtual bool isCapturing() const = 0;
    // Main thread, once per capture: the capture's one outcome.
    std::function<void(const KeyCaptureResult&)> onCapture;
    // Main thread. Starts capturing a new hold key; false when no tap is running.
    virtual bool beginCapture() = 0;
    // Main thread. Ends a capture; does nothing when none runs.
    virtual void endCapture() = 0;
    // Main thread: the hold key went down.
    std::function<void(double time)> onPress;
    // Main thread: the hold key went up.
    std::function<void(double time)> onRelease;
    // Main thread: a hold was cancelled.
    std::function<void(KeyCancelReason reason, double time)> onCancel;
    // Main thread: a tap was followed by a second press within the double-tap window.
    std::function<void(double time)> onDoubleTap;
    // Main thread: the hold key was pressed during hands-free dictation.
    std::function<void(double time)> onStop;
    // Main thread: Escape was pressed during hands-free dictation.
    std::function<void(double time)> onEscape;
    // Main thread: every raw down and up of the hold key.
    std::function<void(bool down, double time)> onHoldKeyChange;
    // Main thread. While true, Escape outside hands-free goes to onEscapeWatched.
    virtual bool watchesEscape() const = 0;
    virtual void setWatchesEscape(bool watches) = 0;
    // Main thread: Escape while watchesEscape is on.
    std::function<void(double time)> onEscapeWatched;
    // Main thread. True while a tap session runs.
    virtual bool isRunning() const = 0;
    // Main thread. Tells the hold machine that hands-free dictation began or ended, so that it
    // reports onStop and onEscape; harmless when no tap runs.
    virtual void setHandsFree(bool handsFree) = 0;
    // Main thread. Starts the tap; false without the accessibility permission or when no tap
    // can be made.
    virtual bool start() = 0;
    // Main thread. Stops the tap; does nothing when none runs.
    virtual void stop() = 0;
};

} // namespace talverin
