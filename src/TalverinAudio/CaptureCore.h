#pragma once

#include "Runtime/SerialQueue.h"
#include "TalverinAudio/AudioBlock.h"
#include "TalverinAudio/PCMConverter.h"
#include "TalverinAudio/SilenceGate.h"
#include "TalverinCore/CapturedClip.h"
#include "TalverinCore/EnumTable.h"
#include "TalverinCore/MicBuffer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace talverin {

// Turns the blocks of the input tap into one clip per dictation: it converts every block to
// 16 kHz mono on its serial audio queue, hands each converted block on, and when the key is
// released waits for a short post-roll, cuts the clip at release time plus post-roll and
// decides whether it holds speech. It knows no device; the microphone service starts and
// ends its captures.
//
// Threads: tap() runs on the engine's thread and only time-stamps and posts. Everything that
// touches a capture runs on the audio queue; the synchronous calls (isCapturing, start,
// cancel, markPaused) hop onto it, so callbacks on the audio queue must never wait for a
// queue that makes those calls. Create it with std::make_shared: deadlines and posted blocks
// hold it weakly.
class CaptureCore : public std::enable_shared_from_this<CaptureCore> {
public:
    using BufferCallback = std::function<void(const MicBuffer&)>;
    using Completion = std::function<void(const CapturedClip&)>;

    // How a capture ended.
    enum class End { postRoll, deadline, cancelled, restarted };

    // Room for 15 s of samples is reserved per capture, so ordinary dictations never grow it.
    static constexpr std::size_t reservedSamples = 240000;
    // How long after the cutoff a capture waits for the block that reaches it.
    static constexpr double deadlineGrace = 0.1;

    // The queue must outlive the core.
    explicit CaptureCore(SerialQueue& queue);

    // Any thread. Called on the audio queue for every converted block and for a flushed tail.
    void setOnBuffer(BufferCallback onBuffer);
    BufferCallback onBuffer() const;
    // Any thread. Called on the audio queue after every completed capture, before its
    // completion.
    void setOnComplete(std::function<void()> onComplete);

    // Any thread but the audio queue's callbacks; each waits for the audio queue.
    bool isCapturing();
    void start(double beginTime);
    // Discards the capture without a clip; its completion, if any, gets an empty clip.
    void cancel();
    // Audio that ends at or before `time` belongs to no later capture.
    void markPaused(double time);

    // The engine's thread. `time` is the uptime of the block's first sample when the
    // platform knows it; otherwise the block is taken to have ended now.
    void tap(AudioBlock block, std::optional<double> time);
    void feed(AudioBlock block, double time);

    // Any thread. Ends the capture at releaseTime + postRoll (seconds) and calls `completion`
    // on the audio queue with the clip; with no capture to end, with an empty clip at once.
    void finish(double releaseTime, double postRoll, Completion completion);

private:
    struct Capture {
        std::uint64_t generation = 0;
        double beginTime = 0;
        double floorTime = 0;
        PCMConverter converter;
        std::vector<float> samples;
        SilenceGate gate;
        std::int64_t blocks = 0;
        std::optional<double> lastEnd;
        std::optional<double> releaseTime;
        std::optional<double> cutoff;
        Completion completion;
    };

    void consume(const AudioBlock& block, double time);
    void take(const std::vector<float>& samples, double time, Capture& capture);
    // What becomes of the samples the converter still holds when a clip completes.
    enum class Tail { drop, flush };
    void complete(Tail tail, End end);
    void deliver(std::vector<float> samples, double time);
    std::function<void()> onComplete() const;

    SerialQueue& m_queue;
    mutable std::mutex m_lock; // guards the two callbacks only
    BufferCallback m_storedOnBuffer;
    std::function<void()> m_storedOnComplete;
    // Audio queue only.
    std::unique_ptr<Capture> m_capture;
    std::uint64_t m_generation = 0;
    double m_floorTime = 0;
};

template <> struct EnumTable<CaptureCore::End> {
    static constexpr auto entries = std::to_array<EnumEntry<CaptureCore::End>>({
        {CaptureCore::End::postRoll, "post-roll"},
        {CaptureCore::End::deadline, "deadline"},
        {CaptureCore::End::cancelled, "cancelled"},
        {CaptureCore::End::restarted, "restarted"},
    });
};

} // namespace talverin
