// The on-device recogniser: how fast its decoder runs on 10 s of espeak-ng speech (the real-time
// factor: decoding time over audio time; the live draft's backlog needs well under 1), and how
// much resident memory a loaded model adds (about 94 MB expected). Needs the en-US model,
// espeak-ng and sox: build/bench/BenchPocketsphinx
#include "TalverinAudio/WavFile.h"
#include "TalverinSpeech/linux/SpeechRecognizersPocketsphinx.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace talverin {
namespace {

const std::filesystem::path modelRoot = "/usr/share/pocketsphinx/model";

// 10 s of speech at 16 kHz mono as 16-bit samples; empty when it cannot be made.
std::vector<std::int16_t> tenSecondsOfSpeech() {
    char folder[] = "/tmp/talverin-bench-XXXXXX";
    if (!mkdtemp(folder))
        return {};
    const std::string raw = std::string(folder) + "/raw.wav";
    const std::string wav = std::string(folder) + "/speech.wav";
    const std::string command =
        "espeak-ng -w '" + raw +
        "' 'Good morning. Please send the report to the team before the meeting on Friday, "
        "and call me back when you have read it.' && sox '" +
        raw + "' -r 16000 -c 1 -b 16 '" + wav + "' repeat 5 trim 0 10 >/dev/null 2>&1";
    std::vector<std::int16_t> samples;
    if (std::system(command.c_str()) == 0)
        if (auto file = WavFile::read(wav); file.ok())
            if (auto pcm =
                    DraftAudio::buffer(file->samples, {16000, 1, DraftSampleFormat::int16, false}))
                samples = std::get<std::vector<std::int16_t>>(pcm->samples);
    std::filesystem::remove_all(folder);
    return samples;
}

double residentMB() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

void BM_DecodeTenSecondsOfSpeech(benchmark::State& state) {
    auto speech = tenSecondsOfSpeech();
    SpeechRecognizersPocketsphinx recognizers(modelRoot);
    auto english = recognizers.recognizer("en-US");
    if (speech.size() != 160000 || !english || !english->isAvailable()) {
        state.SkipWithError("needs the en-US model, espeak-ng and sox");
        return;
    }
    double decoding = 0;
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable done;
        bool final = false;
        const auto began = std::chrono::steady_clock::now();
        auto channel = english->begin({}, [&](RecognitionReport report) {
            std::lock_guard lock(mutex);
            if (report.error || report.result->isFinal) {
                final = true;
                done.notify_all();
            }
        });
        for (std::size_t at = 0; at < speech.size(); at += 1600)
            channel->append(
                DraftPcmBuffer{english->nativeFormat(),
                               std::vector<std::int16_t>(
                                   speech.begin() + static_cast<std::ptrdiff_t>(at),
                                   speech.begin() + static_cast<std::ptrdiff_t>(at + 1600))});
        channel->endAudio();
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return final; });
        decoding += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    }
    state.counters["real_time_factor"] = decoding / static_cast<double>(state.iterations()) / 10;
}
BENCHMARK(BM_DecodeTenSecondsOfSpeech)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LoadedModelMemory(benchmark::State& state) {
    double added = 0;
    for (auto _ : state) {
        SpeechRecognizersPocketsphinx recognizers(modelRoot);
        auto english = recognizers.recognizer("en-US");
        const double before = residentMB();
        if (!english || !english->isAvailable()) {
            state.SkipWithError("needs the en-US model");
            return;
        }
        added += residentMB() - before;
    }
    state.counters["added_MB"] = added / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LoadedModelMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace talverin
