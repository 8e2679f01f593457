#include "Runtime/SyntheticInput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace talverin {
namespace {

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

TEST(SyntheticInput, TheMarkOutlivesTheLastOfOverlappingBatchesByTheGrace) {
    SyntheticInput input(0.05);
    EXPECT_FALSE(input.isPosting());
    input.beginPosting();
    {
        SyntheticInput::Batch inner(input);
        EXPECT_TRUE(input.isPosting());
    }
    sleepSeconds(0.1);
    EXPECT_TRUE(input.isPosting()) << "the outer batch is still open";
    input.endPosting();
    EXPECT_TRUE(input.isPosting()) << "within the grace";
    sleepSeconds(0.1);
    EXPECT_FALSE(input.isPosting());
}

TEST(SyntheticInput, AnUnmatchedEndLeavesNoMarkBehind) {
    SyntheticInput input(0);
    input.endPosting();
    input.beginPosting();
    input.endPosting();
    sleepSeconds(0.01);
    EXPECT_FALSE(input.isPosting());
}

} // namespace
} // namespace talverin
