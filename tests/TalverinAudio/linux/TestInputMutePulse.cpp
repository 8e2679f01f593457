// labels: pulse
// resource-lock: pulse-server
#include "TalverinAudio/linux/InputMutePulse.h"

#include "PulseTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace talverin {
namespace {

using test::shell;

TEST(InputMutePulse, MuteOrZeroVolumeCountsAsMuted) {
    if (!test::serverRuns())
        GTEST_SKIP() << "no sound server";
    test::ThreadEventLoop loop;
    auto connection = PulseConnection::shared();
    std::uint32_t vmic = static_cast<std::uint32_t>(std::atoi(
        test::shellLine("pactl list short sources | awk '$2 == \"vmic\" {print $1}'").c_str()));
    struct Case {
        const char* mute;
        const char* volume;
        bool muted;
    };
    for (Case c : {Case{"0", "100%", false}, Case{"1", "100%", true}, Case{"0", "0%", true},
                   Case{"0", "3%", false}}) {
        ASSERT_EQ(shell(std::string("pactl set-source-mute vmic ") + c.mute), 0);
        ASSERT_EQ(shell(std::string("pactl set-source-volume vmic ") + c.volume), 0);
        EXPECT_EQ(InputMutePulse::isMuted(*connection, vmic), c.muted) << c.mute << " " << c.volume;
    }
    shell("pactl set-source-mute vmic 0; pactl set-source-volume vmic 100%");
    EXPECT_FALSE(InputMutePulse::isMuted(*connection, 99999));
    EXPECT_FALSE(InputMutePulse::isHoggedByOther(vmic));
}

} // namespace
} // namespace talverin
