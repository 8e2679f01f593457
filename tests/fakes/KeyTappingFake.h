#pragma once

#include "TalverinCore/KeyTapping.h"
#include "fakes/CallLog.h"

#include <memory>
#include <optional>

namespace talverin::test {

// A key tap driven by the test. The send… members stand for the tap thread: each posts its
// event to the main queue, as the real tap relays it, and the callback runs there when the
// world gets to it. Events reach the callbacks whether or not start() was called; the
// hands-free, escape-watch and capture rules of the hold machine are kept.
class KeyTappingFake final : public KeyTapping {
public:
    KeyTappingFake() = default;

    CallLog log;
    // What start() answers; the tap runs after a true answer.
    bool startAnswer = true;

    HoldKey holdKey() const override { return m_holdKey; }
    void setHoldKey(HoldKey key) override;
    bool isCapturing() const override { return m_capturing; }
    bool beginCapture() override;
    void endCapture() override;
    bool watchesEscape() const override { return m_watchesEscape; }
    void setWatchesEscape(bool watches) override;
    bool isRunning() const override { return m_running; }
    void setHandsFree(bool handsFree) override;
    bool start() override;
    void stop() override;

    bool handsFree() const { return m_handsFree; }

    // A missing time is the current uptime. Those that answer say whether the event will be
    // delivered.
    void sendPress(std::optional<double> time = {});
    void sendRelease(std::optional<double> time = {});
    void sendCancel(KeyCancelReason reason, std::optional<double> time = {});
    void sendDoubleTap(std::optional<double> time = {});
    // Only while hands-free, as the hold machine reports them.
    bool sendStop(std::optional<double> time = {});
    bool sendEscape(std::optional<double> time = {});
    void sendHoldKeyChange(bool down, std::optional<double> time = {});
    // Only while watchesEscape is on.
    bool sendEscapeWatched(std::optional<double> time = {});
    // Only while capturing; an accepted key or a cancellation ends the capture, a rejected key
    // leaves it running.
    bool sendCapture(KeyCaptureResult result);

private:
    template <typename F> void post(F deliver);

    HoldKey m_holdKey = HoldKey::rightOption;
    bool m_capturing = false;
    bool m_watchesEscape = false;
    bool m_running = false;
    bool m_handsFree = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace talverin::test
