// From the key going down to the first captured block, with the microphone prewarmed on the
// 48 kHz stereo virtual microphone of scripts/desktop-session: the budget is 30 ms. Run it
// inside the session: scripts/desktop-session build/bench/BenchMicStart
#include "Runtime/MainQueue.h"
#include "Runtime/linux/SystemEventLoop.h"
#include "TalverinAudio/DictationMic.h"
#include "TalverinAudio/linux/AudioSystemPulse.h"
#include "TalverinCore/CoreLog.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

namespace talverin {
namespace {

void BM_MicBeginToFirstBlock(benchmark::State& state) {
    SystemEventLoop loop;
    Runtime::install(&loop);
    // The capture engine logs how long after begin its first block came, by its own clock.
    std::atomic<int> firstBlockMs = -1;
    CoreLog::setSink([&](const std::string& line) {
        int ms = 0;
        if (std::sscanf(line.c_str(), "mic: first block %d ms after begin", &ms) == 1)
            firstBlockMs = ms;
    });
    {
        auto mic = std::make_unique<DictationMic>(
            std::make_shared<AudioSystemPulse>(PulseConnection::shared()), [] { return true; });
        std::atomic<double> firstBuffer = 0;
        mic->setOnBuffer([&](const MicBuffer&) {
            double none = 0;
            firstBuffer.compare_exchange_strong(none, Clock::uptime());
        });
        mic->setDeviceID("vmic48");
        auto device = mic->prewarm() ? mic->activeDevice() : std::nullopt;
        if (!device || device->uid != "vmic48") {
            state.SkipWithError("no 48 kHz virtual microphone: run inside scripts/desktop-session");
        } else {
            double buffersMs = 0;
            for (auto _ : state) {
                firstBlockMs = -1;
                firstBuffer = 0;
                const double keyDown = Clock::uptime();
                if (!mic->begin()) {
                    state.SkipWithError("begin failed");
                    break;
                }
                loop.runUntil([&] { return firstBlockMs >= 0 && firstBuffer > 0; }, 3);
                state.SetIterationTime(firstBlockMs / 1000.0);
                buffersMs += (firstBuffer - keyDown) * 1000;
                auto clip = mic->end(0);
                loop.runUntil([&] { return clip.isReady(); }, 3);
            }
            // The first converted samples can come a block later: the resampler holds back
            // its filter's delay.
            state.counters["firstBuffer_ms"] =
                benchmark::Counter(buffersMs / static_cast<double>(state.iterations()));
        }
    }
    CoreLog::setSink({});
    Runtime::install(nullptr);
}
BENCHMARK(BM_MicBeginToFirstBlock)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace
} // namespace talverin
