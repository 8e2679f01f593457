#pragma once

#include "Runtime/SerialQueue.h"
#include "TalverinCore/MicCapturing.h"
#include "fakes/AnswerScript.h"
#include "fakes/CallLog.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talverin::test {

// A microphone driven by the test. Create it after the VirtualWorld: it owns two queues of
// the world, the audio queue on which every block reaches onBuffer (never the main queue) and
// the control queue on which level readings arrive.
//
// A capture is open from a successful begin() until its end() has answered; blocks the test
// delivers outside a capture are dropped, as the real capture delivers none. Calling end() or
// begin() while an earlier end() has not answered fails the test: the controller must wait
// for the previous stop.
class MicCapturingFake final : public MicCapturing {
public:
    MicCapturingFake();
    ~MicCapturingFake() override;

    CallLog log;
    // What the coming begin() and prewarm() calls answer; nothing queued: success.
    std::deque<Result<void, MicError>> beginAnswers;
    std::deque<Result<void, MicError>> prewarmAnswers;
    // What the coming end() calls answer; nothing scripted: CapturedClip::empty() at once.
    AnswerScript<CapturedClip> endAnswers;

    std::optional<std::string> deviceID() const override;
    void setDeviceID(std::optional<std::string> id) override;
    void setOnBuffer(BufferCallback onBuffer) override;
    std::optional<std::string> deviceName() const override;
    Result<void, MicError> prewarm() override;
    Result<void, MicError> begin() override;
    Future<CapturedClip> end(int postRollMs) override;
    void beginLevelCheck(ReadingCallback onReading) override;
    void endLevelCheck() override;

    void setDeviceName(std::optional<std::string> name);
    bool isCapturing() const;
    bool isChecking() const;

    // Queues a block on the audio queue, now or after a delay.
    void deliver(MicBuffer buffer);
    void deliverAfter(double seconds, MicBuffer buffer);
    // Queues a level reading on the control queue; it reaches the callback while a level check
    // runs.
    void sendReading(MicCheckReading reading);

    std::size_t deliveredBlocks() const;
    std::size_t droppedBlocks() const;

    SerialQueue& audioQueue() { return m_audio; }
    SerialQueue& controlQueue() { return m_control; }

private:
    bool captureOpen() const; // with m_mutex held
    bool endPending() const;  // with m_mutex held
    void hand(const MicBuffer& buffer);

    SerialQueue m_audio{"mic.audio"};
    SerialQueue m_control{"mic.control"};
    mutable std::mutex m_mutex;
    std::optional<std::string> m_deviceID;
    std::optional<std::string> m_deviceName = std::string("Fake Microphone");
    BufferCallback m_onBuffer;
    ReadingCallback m_onReading;
    bool m_capturing = false;
    std::vector<Promise<CapturedClip>> m_ends; // of the current capture
    std::size_t m_delivered = 0;
    std::size_t m_dropped = 0;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace talverin::test
