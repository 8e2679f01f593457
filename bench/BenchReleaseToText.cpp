// From the key's release to the text handed to the inserter, on the application's dictation
// controller with its real streaming Opus encoder and its real cloud client, over libcurl, to the
// backend stand-in on this machine (scripts/backend-standin); the key, the microphone, the
// context, the live draft, the pill and the inserter are the tests' fakes. The microphone's fake
// is fed 10 ms blocks of speech-like audio in real time while the key is held, and answers the
// stop after the post-roll, as the real one does. The figure splits into the post-roll, the
// encoder's finish, the server's time (the client's wait for the answer, from the transport's
// log line; the stand-in's checks of the clip count as the server's) and the rest: our own
// overhead, budget 20 ms. Needs python3 and opusinfo: build/bench/BenchReleaseToText
#include "Runtime/MainQueue.h"
#include "Runtime/linux/SystemEventLoop.h"
#include "Talverin/App/OpusStream.h"
#include "Talverin/Dictation/DictationController.h"
#include "TalverinCloud/Backend.h"
#include "TalverinCloud/DictateClient.h"
#include "TalverinCloud/MemorySecrets.h"
#include "TalverinCloud/OpusTestSupport.h"
#include "TalverinCloud/linux/HttpTransportCurl.h"
#include "TalverinCloud/linux/StandinServer.h"
#include "TalverinCore/CoreLog.h"
#include "fakes/ContextReadingFake.h"
#include "fakes/DuckingFake.h"
#include "fakes/KeyTappingFake.h"
#include "fakes/LanguageRecognizingFake.h"
#include "fakes/LiveDraftingFake.h"
#include "fakes/MicCapturingFake.h"
#include "fakes/PermissionWatchingFake.h"
#include "fakes/PillPresentingFake.h"
#include "fakes/SoundPlayingFake.h"
#include "fakes/TextInsertingFake.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

constexpr double holdSeconds = 2.0;
constexpr std::size_t blockSize = 160; // 10 ms at 16 kHz

// The session's encoder, its finish timed where it runs.
class TimedFinish final : public ClipEncoding {
public:
    TimedFinish(std::shared_ptr<ClipEncoding> inner, std::atomic<double>& took)
        : m_inner(std::move(inner)), m_took(took) {}

    void append(const MicBuffer& buffer) override { m_inner->append(buffer); }
    std::vector<std::uint8_t> finish() override {
        const auto start = std::chrono::steady_clock::now();
        auto bytes = m_inner->finish();
        m_took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return bytes;
    }
    void cancel() override { m_inner->cancel(); }

private:
    std::shared_ptr<ClipEncoding> m_inner;
    std::atomic<double>& m_took;
};

// The number after `label` in `line` ("wait for response 12 ms"); -1 when it is not there.
double millisecondsAfter(const std::string& line, const std::string& label) {
    std::smatch match;
    if (std::regex_search(line, match, std::regex(label + " (\\d+) ms")))
        return std::stod(match[1]);
    return -1;
}

double median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_ReleaseToInserter(benchmark::State& state) {
    SystemEventLoop loop;
    Runtime::install(&loop);
    std::mutex linesMutex;
    std::vector<std::string> lines;
    CoreLog::setSink([&](const std::string& line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    });
    auto linesStarting = [&](const std::string& prefix) {
        std::lock_guard lock(linesMutex);
        std::vector<std::string> found;
        for (const auto& line : lines)
            if (line.starts_with(prefix))
                found.push_back(line);
        return found;
    };
    {
        test::StandinServer server;
        auto backend = std::make_shared<Backend>(
            server.url(), server.key(), std::make_shared<HttpTransportCurl>(Backend::userAgent()),
            std::make_shared<MemorySecrets>(), [] { return true; });
        auto cloud = std::make_shared<DictateClient>(backend, DictateClient::defaultBudget,
                                                     [] { return true; });
        auto keyTap = std::make_shared<test::KeyTappingFake>();
        auto mic = std::make_shared<test::MicCapturingFake>();
        auto reader = std::make_shared<test::ContextReadingFake>();
        auto inserter = std::make_shared<test::TextInsertingFake>();
        reader->fallback.appName = "Notes";
        reader->fallback.bundleID = "org.example.Notes";
        reader->fallback.isEditable = true;
        reader->fallback.before = "Hello ";
        std::atomic<double> finishSeconds = 0;

        auto services = std::make_shared<Services>();
        services->keyTap = keyTap;
        services->mic = mic;
        services->liveDraft = std::make_shared<test::LiveDraftingFake>();
        services->context = reader;
        services->inserter = inserter;
        services->dictate = cloud;
        services->pill = std::make_shared<test::PillPresentingFake>();
        services->sounds = std::make_shared<test::SoundPlayingFake>();
        services->ducker = std::make_shared<test::DuckingFake>();
        services->permissions = std::make_shared<test::PermissionWatchingFake>();
        services->languageRecognizer = std::make_shared<test::LanguageRecognizingFake>();
        services->makeEncoder = [&finishSeconds] {
            return std::make_shared<TimedFinish>(
                std::make_shared<OpusStream>(std::make_shared<StreamingOpus>()), finishSeconds);
        };
        const int postRollMs = services->timing.postRollMs;
        DictationController controller(services);
        Settings settings;
        settings.languages = {"en"};
        settings.sounds = false;
        controller.settings = [settings] { return settings; };
        controller.start();

        const std::vector<float> speech =
            test::speechLike(static_cast<std::size_t>((holdSeconds + postRollMs / 1000.0) * 16000));
        std::vector<double> totals, ends, finishes, servers, owns;
        bool failed = false;
        for (auto _ : state) {
            const std::size_t dictationsBefore = linesStarting("Dictation: ").size();
            const std::size_t insertionsBefore = inserter->insertions().size();
            mic->endAnswers.push(
                CapturedClip(speech, true,
                             static_cast<std::int64_t>(holdSeconds * 1000 + postRollMs)),
                postRollMs / 1000.0);
            // The microphone's blocks, in real time from the press until the post-roll is
            // over; blocks outside the capture are dropped, as the real one sends none.
            std::atomic<bool> feeding = true;
            std::thread feeder([&] {
                auto next = std::chrono::steady_clock::now();
                for (std::size_t at = 0; feeding && at + blockSize <= speech.size();
                     at += blockSize) {
                    mic->deliver(
                        MicBuffer(std::vector<float>(
                                      speech.begin() + static_cast<std::ptrdiff_t>(at),
                                      speech.begin() + static_cast<std::ptrdiff_t>(at + blockSize)),
                                  0.5f, Clock::uptime()));
                    next += std::chrono::milliseconds(10);
                    std::this_thread::sleep_until(next);
                }
            });
            keyTap->sendPress();
            // The user holds the key: the loop runs the whole hold.
            loop.runUntil([] { return false; }, holdSeconds);
            const double released = Clock::uptime();
            keyTap->sendRelease(released);
            const bool inserted =
                loop.runUntil([&] { return inserter->insertions().size() > insertionsBefore; }, 30);
            const bool logged =
                inserted &&
                loop.runUntil(
                    [&] { return linesStarting("Dictation: ").size() > dictationsBefore; }, 10);
            feeding = false;
            feeder.join();
            const auto transport = linesStarting("Cloud: dictate transport: ");
            if (!logged || transport.empty()) {
                state.SkipWithError(
                    "no text reached the inserter: run inside scripts/desktop-session, with "
                    "python3 and opusinfo installed");
                failed = true;
                break;
            }
            const std::string line = linesStarting("Dictation: ").back();
            const double total = (inserter->insertions().back().time - released) * 1000;
            const double end = millisecondsAfter(line, "end");
            const double finish = finishSeconds * 1000;
            const double server = millisecondsAfter(transport.back(), "wait for response");
            state.SetIterationTime(total / 1000);
            totals.push_back(total);
            ends.push_back(end);
            finishes.push_back(finish);
            servers.push_back(server);
            owns.push_back(total - postRollMs - finish - server);
            // The result pill's hold and the next press's start are not what is measured.
            loop.runUntil([&] { return !controller.hasSession(); }, 5);
        }
        if (!failed) {
            state.counters["total_ms"] = median(totals);
            state.counters["postRoll_ms"] = postRollMs;
            state.counters["end_ms"] = median(ends);
            state.counters["encoderFinish_ms"] = median(finishes);
            state.counters["server_ms"] = median(servers);
            state.counters["own_ms"] = median(owns);
            state.counters["ownMax_ms"] = *std::max_element(owns.begin(), owns.end());
            state.SetLabel("medians; own = total - post-roll - encoder finish - server");
        }
    }
    CoreLog::setSink({});
    Runtime::install(nullptr);
}
BENCHMARK(BM_ReleaseToInserter)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace
} // namespace talverin
