#include "TalverinAudio/CaptureCore.h"

#include "Runtime/MainQueue.h"
#include "Runtime/Milliseconds.h"
#include "TalverinAudio/MicLevel.h"
#include "TalverinAudio/PCM.h"
#include "TalverinAudio/Silence.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace talverin {

namespace {

// Samples to cut from the end of audio that runs `seconds` past the cutoff, clamped to what
// there is.
std::size_t samplesPast(double seconds, std::size_t available) {
    long long k = std::llround(seconds * PCM::sampleRate);
    return static_cast<std::size_t>(std::clamp<long long>(k, 0, static_cast<long long>(available)));
}

std::string ms(double seconds) {
    return std::to_string(wholeMs(seconds));
}

} // namespace

CaptureCore::CaptureCore(SerialQueue& queue) : m_queue(queue) {}

void CaptureCore::setOnBuffer(BufferCallback onBuffer) {
    std::lock_guard lock(m_lock);
    m_storedOnBuffer = std::move(onBuffer);
}

CaptureCore::BufferCallback CaptureCore::onBuffer() const {
    std::lock_guard lock(m_lock);
    return m_storedOnBuffer;
}

void CaptureCore::setOnComplete(std::function<void()> onComplete) {
    std::lock_guard lock(m_lock);
    m_storedOnComplete = std::move(onComplete);
}

std::function<void()> CaptureCore::onComplete() const {
    std::lock_guard lock(m_lock);
    return m_storedOnComplete;
}

bool CaptureCore::isCapturing() {
    return m_queue.syncValue([this] { return m_capture != nullptr; });
}

void CaptureCore::start(double beginTime) {
    m_queue.sync([this, beginTime] {
        if (m_capture) {
            if (m_capture->completion) {
                complete(Tail::drop, End::restarted);
            } else {
                CoreLog::write("mic: begin while capturing: the unfinished capture is dropped");
                m_capture.reset();
            }
        }
        auto capture = std::make_unique<Capture>();
        capture->generation = ++m_generation;
        capture->beginTime = beginTime;
        capture->floorTime = m_floorTime;
        capture->samples.reserve(reservedSamples);
        m_capture = std::move(capture);
    });
}

void CaptureCore::cancel() {
    Completion completion;
    m_queue.sync([this, &completion] {
        if (!m_capture)
            return;
        completion = std::move(m_capture->completion);
        m_capture.reset();
    });
    if (completion)
        completion(CapturedClip::empty());
}

void CaptureCore::markPaused(double time) {
    m_queue.sync([this, time] { m_floorTime = std::max(m_floorTime, time); });
}

void CaptureCore::tap(AudioBlock block, std::optional<double> time) {
    if (block.frames() == 0 || !block.isPCM())
        return;
    double start = time ? *time : Clock::uptime() - block.duration();
    feed(std::move(block), start);
}

void CaptureCore::feed(AudioBlock block, double time) {
    m_queue.async([weak = weak_from_this(), block = std::move(block), time] {
        if (auto self = weak.lock())
            self->consume(block, time);
    });
}

void CaptureCore::consume(const AudioBlock& block, double t) {
    if (!m_capture)
        return;
    Capture& capture = *m_capture;
    const double end = t + block.duration();
    if (end <= capture.floorTime)
        return;
    if (capture.cutoff && t >= *capture.cutoff) {
        complete(Tail::flush, End::postRoll);
        return;
    }
    std::vector<float> samples = capture.converter.convert(block);
    bool reachesCutoff = capture.cutoff && end >= *capture.cutoff;
    if (reachesCutoff) {
        std::vector<float> tail = capture.converter.finish();
        samples.insert(samples.end(), tail.begin(), tail.end());
        samples.resize(samples.size() - samplesPast(end - *capture.cutoff, samples.size()));
    }
    if (++capture.blocks == 1) {
        CoreLog::write("mic: first block " + ms(Clock::uptime() - capture.beginTime) +
                       " ms after begin (captured at +" + ms(t - capture.beginTime) + " ms, " +
                       std::to_string(block.frames()) + " frames at " +
                       std::to_string(static_cast<long long>(block.format().sampleRate)) + " Hz)");
    }
    take(samples, t, capture);
    capture.lastEnd = end;
    deliver(std::move(samples), t);
    if (reachesCutoff)
        complete(Tail::drop, End::postRoll);
}

void CaptureCore::take(const std::vector<float>& samples, double t, Capture& capture) {
    if (samples.empty())
        return;
    capture.samples.insert(capture.samples.end(), samples.begin(), samples.end());
    // Audio captured after the release is in the clip but is not evidence of speech.
    std::size_t gated = samples.size();
    if (capture.releaseTime) {
        long long k = std::llround((*capture.releaseTime - t) * PCM::sampleRate);
        gated = k <= 0 ? 0 : std::min(gated, static_cast<std::size_t>(k));
    }
    capture.gate.append(std::span<const float>(samples.data(), gated));
}

void CaptureCore::deliver(std::vector<float> samples, double time) {
    if (samples.empty())
        return;
    if (auto callback = onBuffer()) {
        float level = MicLevel::level(samples);
        callback(MicBuffer(std::move(samples), level, time));
    }
}

void CaptureCore::finish(double releaseTime, double postRoll, Completion completion) {
    m_queue.async([weak = weak_from_this(), releaseTime, postRoll,
                   completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self || !self->m_capture || self->m_capture->completion) {
            completion(CapturedClip::empty());
            return;
        }
        Capture& capture = *self->m_capture;
        capture.completion = std::move(completion);
        capture.releaseTime = releaseTime;
        capture.cutoff = releaseTime + std::max(postRoll, 0.0);
        if (postRoll <= 0) {
            self->complete(Tail::drop, End::cancelled);
            return;
        }
        if (capture.lastEnd && *capture.cutoff <= *capture.lastEnd) {
            // The audio already reaches past the cutoff: trim it there and end now.
            std::vector<float> tail = capture.converter.finish();
            capture.samples.insert(capture.samples.end(), tail.begin(), tail.end());
            capture.samples.resize(
                capture.samples.size() -
                samplesPast(*capture.lastEnd - *capture.cutoff, capture.samples.size()));
            self->complete(Tail::drop, End::postRoll);
            return;
        }
        double wait = std::max(*capture.cutoff + deadlineGrace - Clock::uptime(), 0.0);
        self->m_queue.after(wait, [weak, generation = capture.generation] {
            auto core = weak.lock();
            if (core && core->m_capture && core->m_capture->generation == generation &&
                core->m_capture->completion)
                core->complete(Tail::flush, End::deadline);
        });
    });
}

void CaptureCore::complete(Tail tail, End end) {
    if (!m_capture || !m_capture->completion)
        return;
    if (tail == Tail::flush) {
        std::vector<float> tail = m_capture->converter.finish();
        if (!tail.empty()) {
            double at = m_capture->lastEnd.value_or(m_capture->beginTime);
            take(tail, at, *m_capture);
            deliver(std::move(tail), at);
        }
    }
    std::unique_ptr<Capture> capture = std::move(m_capture);
    const double now = Clock::uptime();
    m_floorTime = std::max(m_floorTime, now);

    std::size_t speechFrames = capture->gate.speechFrameCount();
    bool speech = speechFrames >= Silence::minSpeechFrames;
    auto durationMs =
        std::llround(static_cast<double>(capture->samples.size()) * 1000.0 / PCM::sampleRate);
    std::int64_t lag = capture->releaseTime ? wholeMs(now - *capture->releaseTime) : 0;
    CoreLog::write("mic: clip " + std::to_string(durationMs) + " ms, speech " +
                   (speech ? "yes" : "no") + " (" + std::to_string(speechFrames) + " of " +
                   std::to_string(capture->gate.frames().size()) + " frames), " +
                   std::to_string(capture->blocks) + " blocks, ended by " +
                   std::string(toString(end)) + " " + std::to_string(lag) + " ms after release");
    if (auto callback = onComplete())
        callback();
    capture->completion(CapturedClip(std::move(capture->samples), speech, durationMs));
}

} // namespace talverin
