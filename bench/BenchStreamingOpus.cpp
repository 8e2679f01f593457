// Streams a minute of speech-like audio through the streaming Opus encoder, as a dictation
// does, and reports how many times faster than real time it runs (the budget is 100x). The
// same clip through opusenc at the same bit rate gives a side-by-side figure.
#include "Runtime/linux/SystemEventLoop.h"
#include "TalverinCloud/OggOpus.h"
#include "TalverinCloud/OpusTestSupport.h"
#include "TalverinCloud/StreamingOpus.h"
#include "TalverinCore/CoreLog.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace talverin {
namespace {

constexpr double clipSeconds = 60.0;
// 10 ms blocks, as the microphone hands them over.
constexpr std::size_t blockSize = 160;

const std::vector<float>& clip() {
    static const std::vector<float> samples =
        test::speechLike(static_cast<std::size_t>(clipSeconds * OggOpus::sampleRate));
    return samples;
}

// Serial queues need an installed event loop; its main loop is never run here.
void installEventLoop() {
    static SystemEventLoop loop;
    Runtime::install(&loop);
    // The finish line of every iteration would drown the figures.
    CoreLog::setSink([](const std::string&) {});
}

std::optional<std::string> findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const auto candidate = std::filesystem::path(folder) / program;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return std::nullopt;
}

void BM_StreamingOpus(benchmark::State& state) {
    installEventLoop();
    const auto& samples = clip();
    double releaseSeconds = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        StreamingOpus stream;
        for (std::size_t at = 0; at < samples.size(); at += blockSize)
            stream.append(std::span(samples).subspan(at, blockSize));
        // While the user speaks the queue keeps up with the microphone; release then costs
        // only the tail and the paging, which is what release_ms shows.
        benchmark::DoNotOptimize(stream.sampleCount());
        const auto released = std::chrono::steady_clock::now();
        const EncodedClip encoded = stream.finishClip();
        releaseSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - released).count();
        bytes = encoded.data.size();
        if (!encoded.isOpus())
            state.SkipWithError("the clip was not encoded as Opus");
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["x_realtime"] =
        benchmark::Counter(clipSeconds * iterations, benchmark::Counter::kIsRate);
    state.counters["release_ms"] = releaseSeconds * 1000.0 / iterations;
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_StreamingOpus)->Unit(benchmark::kMillisecond)->UseRealTime();

// The fallback path: the whole clip encoded at release.
void BM_OnePassOpus(benchmark::State& state) {
    const auto& samples = clip();
    for (auto _ : state)
        benchmark::DoNotOptimize(OggOpus::encode(samples, 1));
    state.counters["x_realtime"] = benchmark::Counter(
        clipSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OnePassOpus)->Unit(benchmark::kMillisecond)->UseRealTime();

// opusenc on the same clip at the same bit rate, process start included; the argument is
// its complexity: 10 is its default, 5 is what our encoder uses.
void BM_Opusenc(benchmark::State& state) {
    const auto opusenc = findOnPath("opusenc");
    if (!opusenc) {
        state.SkipWithError("opusenc is not on PATH: install opus-tools (scripts/deps)");
        return;
    }
    char folderName[] = "/tmp/talverin-bench-XXXXXX";
    if (!mkdtemp(folderName)) {
        state.SkipWithError("cannot make a temporary folder");
        return;
    }
    const std::filesystem::path folder = folderName;
    const auto wav = OggOpus::wav(clip());
    std::ofstream(folder / "clip.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
    const std::string command =
        "'" + *opusenc + "' --quiet --bitrate 32 --comp " + std::to_string(state.range(0)) + " '" +
        (folder / "clip.wav").string() + "' '" + (folder / "clip.opus").string() + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("opusenc failed");
            break;
        }
    }
    std::error_code ignored;
    state.counters["bytes"] =
        static_cast<double>(std::filesystem::file_size(folder / "clip.opus", ignored));
    std::filesystem::remove_all(folder, ignored);
    state.counters["x_realtime"] = benchmark::Counter(
        clipSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Opusenc)->Arg(10)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace talverin
