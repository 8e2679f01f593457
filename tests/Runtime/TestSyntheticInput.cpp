#include "Runtime/SyntheticInput.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

using Stroke = SyntheticInput::Stroke;

constexpr int control = 37;
constexpr int v = 55;
constexpr int rightAlt = 108;

struct Clocked {
    double now = 100;
    SyntheticInput input{0.25, [this] { return now; }};
};

// Each announced event is the program's own exactly once, in either direction; anything else
// from the same device (a second press of that key, the hold key) is somebody else's.
TEST(SyntheticInput, OnlyTheAnnouncedEventsAreOwnAndEachOnce) {
    Clocked c;
    auto tap = c.input.reader();
    for (const auto& [key, stroke] : {std::pair{control, Stroke::press}, {v, Stroke::press},
                                      {v, Stroke::release}, {control, Stroke::release}})
        c.input.announce(key, stroke);
    EXPECT_FALSE(tap.claim(rightAlt, Stroke::press)) << "the hold key, pressed by a driver";
    EXPECT_TRUE(tap.claim(control, Stroke::press));
    EXPECT_FALSE(tap.claim(control, Stroke::press)) << "used already";
    EXPECT_TRUE(tap.claim(v, Stroke::press));
    EXPECT_TRUE(tap.claim(v, Stroke::release));
    EXPECT_TRUE(tap.claim(control, Stroke::release));
    EXPECT_FALSE(tap.claim(control, Stroke::release));
    EXPECT_FALSE(tap.claim(rightAlt, Stroke::release));
}

// An announcement whose event never came does not take a later key of the same code for its
// own once the grace has passed.
TEST(SyntheticInput, AnAnnouncementLastsTheGrace) {
    Clocked c;
    auto tap = c.input.reader();
    c.input.announce(v, Stroke::press);
    c.input.announce(v, Stroke::press);
    c.now += 0.25;
    EXPECT_TRUE(tap.claim(v, Stroke::press));
    c.now += 0.01;
    EXPECT_FALSE(tap.claim(v, Stroke::press));
}

// Two taps (the old one and the new one while the hold key changes) each leave the post out.
TEST(SyntheticInput, EveryReaderMatchesEachEventOnce) {
    Clocked c;
    auto first = c.input.reader();
    auto second = c.input.reader();
    c.input.announce(v, Stroke::press);
    EXPECT_TRUE(first.claim(v, Stroke::press));
    EXPECT_TRUE(second.claim(v, Stroke::press));
    EXPECT_FALSE(first.claim(v, Stroke::press));
    EXPECT_FALSE(second.claim(v, Stroke::press));
}

} // namespace
} // namespace talverin
