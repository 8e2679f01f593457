// labels: tsan
#include "Talverin/Dictation/BufferRouter.h"

#include "Runtime/VirtualWorld.h"
#include "fakes/ClipEncodingFake.h"
#include "fakes/LiveDraftingFake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <thread>
#include <utility>
#include <vector>

namespace talverin::test {
namespace {

MicBuffer block(double time, float level) {
    return MicBuffer(std::vector<float>(160, 0.1f), level, time);
}

struct Router {
    VirtualWorld world{1024.0};
    std::shared_ptr<LiveDraftingFake> liveDraft = std::make_shared<LiveDraftingFake>();
    BufferRouter router{liveDraft, 1.0 / 30};
    std::vector<std::pair<int, float>> levels;

    Router() {
        liveDraft->start({"en"}, {});
        router.setOnLevel(
            [this](int session, float level) { levels.emplace_back(session, level); });
    }
};

// --- The level throttle ---

struct ThrottleCase {
    const char* name;
    double spacing;        // between the blocks' time stamps
    bool burst;            // all blocks handled at one moment, as after a stall
    std::vector<int> sent; // the blocks whose level goes on
};

void PrintTo(const ThrottleCase& c, std::ostream* out) {
    *out << c.name;
}

class Throttle : public ::testing::TestWithParam<ThrottleCase> {};

TEST_P(Throttle, SendsALevelAtMostEveryThirtiethOfASecondOfBlockTime) {
    const ThrottleCase& c = GetParam();
    Router r;
    r.router.begin(7, nullptr);
    for (int k = 0; k < 12; ++k) {
        if (!c.burst)
            r.world.runUntil(1024.0 + k * c.spacing);
        r.router.handle(block(1024.0 + k * c.spacing, static_cast<float>(k)));
    }
    r.world.runUntilIdle();
    std::vector<int> sent;
    for (const auto& [session, level] : r.levels) {
        EXPECT_EQ(session, 7);
        sent.push_back(static_cast<int>(level));
    }
    EXPECT_EQ(sent, c.sent);
}

// 1/32 s lies between 0.03 and 1/30: a throttle of 0.03 would pass every block.
const ThrottleCase kThrottles[] = {
    {"every10ms", 0.01, false, {0, 4, 8}},
    {"every32ndOfASecond", 1.0 / 32, false, {0, 2, 4, 6, 8, 10}},
    {"every15thOfASecond", 1.0 / 15, false, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
    {"lateBurstThinnedAlike", 1.0 / 32, true, {0, 2, 4, 6, 8, 10}},
};

INSTANTIATE_TEST_SUITE_P(Spacings, Throttle, ::testing::ValuesIn(kThrottles),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Binding ---

TEST(BufferRouter, AnUnboundRouterFeedsOnlyTheLiveDraft) {
    Router r;
    auto encoder = std::make_shared<ClipEncodingFake>();
    r.router.handle(block(1024.0, 0.1f));
    r.router.begin(3, encoder);
    r.router.handle(block(1025.0, 0.2f));
    r.router.handle(block(1025.5, 0.3f));
    std::optional<double> firstTime = r.router.unbind();
    r.router.handle(block(1026.0, 0.4f));
    r.world.runUntilIdle();

    EXPECT_EQ(r.liveDraft->acceptedBlocks(), 4u);
    EXPECT_EQ(encoder->appendedBlocks(), 2u);
    EXPECT_EQ(r.levels, (std::vector<std::pair<int, float>>{{3, 0.2f}, {3, 0.3f}}));
    EXPECT_EQ(firstTime, 1025.0) << "the first block since the binding, not since construction";
}

TEST(BufferRouter, ANewBindingStartsTheThrottleAndTheFirstTimeAfresh) {
    Router r;
    r.router.begin(1, nullptr);
    r.router.handle(block(1024.0, 0.1f));
    r.router.begin(2, nullptr);
    // Only 10 ms later, but the new binding sends its first level at once.
    r.router.handle(block(1024.01, 0.2f));
    r.world.runUntilIdle();
    EXPECT_EQ(r.levels, (std::vector<std::pair<int, float>>{{1, 0.1f}, {2, 0.2f}}));
    EXPECT_EQ(r.router.unbind(), 1024.01);
}

// --- Real threads ---

// The audio queue hands blocks in while the main thread binds, unbinds and takes levels.
TEST(BufferRouter, HoldsUpUnderBlocksFromRealThreadsWhileTheMainThreadRebinds) {
    Router r;
    constexpr int kThreads = 3;
    constexpr int kBlocks = 4000;
    std::atomic<bool> go{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> audio;
    for (int t = 0; t < kThreads; ++t) {
        audio.emplace_back([&r, &go, &finished, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int k = 0; k < kBlocks; ++k)
                r.router.handle(block(1024.0 + (t * kBlocks + k) * 0.004, 0.5f));
            ++finished;
        });
    }
    // The main thread rebinds for as long as blocks come, so the two sides overlap throughout.
    std::vector<std::shared_ptr<ClipEncodingFake>> encoders;
    int session = 0;
    go = true;
    while (finished.load() < kThreads) {
        encoders.push_back(std::make_shared<ClipEncodingFake>());
        r.router.begin(++session, encoders.back());
        r.world.runReady();
        if (session % 3 == 0)
            (void)r.router.unbind();
    }
    for (auto& thread : audio)
        thread.join();
    r.world.runUntilIdle();

    std::size_t encoded = 0;
    for (const auto& encoder : encoders)
        encoded += encoder->appendedBlocks();
    EXPECT_LE(encoded, static_cast<std::size_t>(kThreads * kBlocks));
    EXPECT_EQ(r.liveDraft->acceptedBlocks(), static_cast<std::size_t>(kThreads * kBlocks));
    for (const auto& [levelSession, level] : r.levels) {
        EXPECT_GE(levelSession, 1);
        EXPECT_LE(levelSession, session);
        EXPECT_EQ(level, 0.5f);
    }
}

} // namespace
} // namespace talverin::test
