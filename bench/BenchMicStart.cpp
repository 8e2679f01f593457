// From the key going down to the capture, with the microphone prewarmed on each virtual
// microphone of scripts/desktop-session (vmic at 16 kHz mono, vmic48 at 48 kHz stereo). The
// iteration time is when the first block reached the level meter (the tap hands every block to
// the meter first, then to the capture engine, which logs it); the counters say how far the
// clip's first sample lies from the key-down (what a user feels: positive means audio spoken
// after the key went down is lost; the goal is under 10 ms) and when the first converted
// buffer came. Run it inside the session: scripts/desktop-session build/bench/BenchMicStart
#include "Runtime/MainQueue.h"
#include "Runtime/linux/SystemEventLoop.h"
#include "TalverinAudio/DictationMic.h"
#include "TalverinAudio/linux/AudioSystemPulse.h"
#include "TalverinCore/CoreLog.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

namespace talverin {
namespace {

// Runs the loop until `done`, at most `seconds`. The flags it waits for are set on the audio
// threads, which never wake the main loop: a loop that only waits for its own events sleeps
// until its timeout (3 s an iteration, most of what this benchmark once took). Short slices
// keep it looking; the times themselves are taken where the events happen.
bool runUntil(SystemEventLoop& loop, const std::function<bool()>& done, double seconds) {
    const double deadline = Clock::uptime() + seconds;
    while (!done() && Clock::uptime() < deadline)
        loop.runUntil(done, 0.001);
    return done();
}

void BM_MicKeyDownToCapture(benchmark::State& state, const std::string& uid) {
    SystemEventLoop loop;
    Runtime::install(&loop);
    // The capture engine logs its first block: when it came after begin, and when its first
    // sample was captured, both by its own clock from the begin.
    std::atomic<int> firstBlockMs = -1;
    std::atomic<int> firstSampleMs = 0;
    CoreLog::setSink([&](const std::string& line) {
        int came = 0;
        int captured = 0;
        if (std::sscanf(line.c_str(), "mic: first block %d ms after begin (captured at +%d ms",
                        &came, &captured) == 2) {
            firstSampleMs = captured;
            firstBlockMs = came;
        }
    });
    {
        auto mic = std::make_unique<DictationMic>(
            std::make_shared<AudioSystemPulse>(PulseConnection::shared()), [] { return true; });
        std::atomic<double> firstBuffer = 0;
        mic->setOnBuffer([&](const MicBuffer&) {
            double none = 0;
            firstBuffer.compare_exchange_strong(none, Clock::uptime());
        });
        mic->setDeviceID(uid);
        // The first preparation may come before the connection to the server is made.
        auto prepared = [&] {
            auto device = mic->prewarm() ? mic->activeDevice() : std::nullopt;
            return device && device->uid == uid;
        };
        if (!runUntil(loop, prepared, 5)) {
            state.SkipWithError("no such virtual microphone: run inside scripts/desktop-session");
        } else {
            double buffersMs = 0;
            double samplesMs = 0;
            double latestSampleMs = -1e9;
            for (auto _ : state) {
                firstBlockMs = -1;
                firstBuffer = 0;
                const double keyDown = Clock::uptime();
                if (!mic->begin()) {
                    state.SkipWithError("begin failed");
                    break;
                }
                if (!runUntil(
                        loop, [&] { return firstBlockMs >= 0 && firstBuffer > 0; }, 3)) {
                    state.SkipWithError("no block within 3 s");
                    break;
                }
                state.SetIterationTime(firstBlockMs / 1000.0);
                buffersMs += (firstBuffer - keyDown) * 1000;
                samplesMs += firstSampleMs;
                latestSampleMs = std::max(latestSampleMs, static_cast<double>(firstSampleMs));
                auto clip = mic->end(0);
                runUntil(
                    loop, [&] { return clip.isReady(); }, 3);
            }
            const auto n =
                static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
            state.counters["firstSample_ms"] = benchmark::Counter(samplesMs / n);
            state.counters["firstSampleMax_ms"] = benchmark::Counter(latestSampleMs);
            // The first converted samples can come a block later: the resampler holds back
            // its filter's delay.
            state.counters["firstBuffer_ms"] = benchmark::Counter(buffersMs / n);
        }
    }
    CoreLog::setSink({});
    Runtime::install(nullptr);
}
BENCHMARK_CAPTURE(BM_MicKeyDownToCapture, vmic16kMono, std::string("vmic"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);
BENCHMARK_CAPTURE(BM_MicKeyDownToCapture, vmic48kStereo, std::string("vmic48"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);

} // namespace
} // namespace talverin
