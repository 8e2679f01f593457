// labels: tsan
#include "TalverinSpeech/LiveDraft.h"

#include "Runtime/MainQueue.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinSpeech/RecognizerDraftProvider.h"
#include "fakes/SpeechRecognizersFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

using test::SpeechRecognizersFake;

// The live draft with its callers on real threads: the microphone's thread appends blocks and
// the recogniser's thread reports, while the main thread starts, finishes and cancels
// dictations and finally releases the draft with a finish() waiting and reports still coming.
// The assertions are few; the point is that ThreadSanitizer and AddressSanitizer see every
// path run concurrently, the release included.
TEST(LiveDraftThreads, DictatesAndIsReleasedWhileBlocksAndReportsArrive) {
    VirtualWorld world;
    test::LogLines log;
    auto recognizers = std::make_shared<SpeechRecognizersFake>();
    auto& english = recognizers->add("en-US");
    auto draft = std::make_unique<LiveDraft>(
        std::make_unique<RecognizerDraftProvider>(
            recognizers, DraftTuning::standard(), "test.livedraft",
            DraftLocaleSource{[] { return std::vector<std::string>{}; },
                              [] { return std::nullopt; }}),
        DraftTuning::standard(), std::make_unique<SerialQueue>("test.livedraft"));
    std::vector<std::string> partials;
    draft->onPartial = [&](const std::string& text) { partials.push_back(text); };

    std::atomic<bool> appending = true;
    std::atomic<bool> reporting = true;
    std::thread microphone([&] {
        while (appending) {
            draft->append(MicBuffer(std::vector<float>(1600, 0.1f), 0.1f, 0));
            // Pacing only, as a microphone delivers: nothing waits on it.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread recogniser([&] {
        for (int i = 0; reporting; ++i) {
            auto tasks = english.tasks();
            if (!tasks.empty()) {
                auto& task = *tasks.back();
                if (i % 97 == 96)
                    task.fail("d", i);
                else if (i % 13 == 12)
                    task.final("words " + std::to_string(i));
                else
                    task.partial("words " + std::to_string(i));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });

    std::vector<std::shared_ptr<std::optional<std::string>>> drafts;
    auto finish = [&] {
        auto out = std::make_shared<std::optional<std::string>>();
        draft->finish().then([out](const std::string& text) { *out = text; });
        drafts.push_back(out);
    };
    for (int round = 0; round < 60; ++round) {
        draft->start({"en"}, {"Talverin"});
        for (int i = 0; i < 400; ++i)
            world.step();
        if (round % 4 == 3) {
            draft->cancel();
        } else {
            finish();
            (void)draft->confidentFinal();
        }
        for (int i = 0; i < 20; ++i)
            world.step();
        world.advance(0.7);
    }
    draft->start({"en"}, {});
    world.runReady();
    finish();

    appending = false;
    microphone.join();
    // Reports keep coming while the draft goes away.
    draft.reset();
    reporting = false;
    recogniser.join();
    world.runUntilIdle();

    for (const auto& result : drafts)
        EXPECT_TRUE(result->has_value()) << "every finish() was answered";
    EXPECT_FALSE(log.starting("LiveDraft: start en-US").empty());
}

} // namespace
} // namespace talverin
