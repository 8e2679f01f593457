#include "Talverin/App/MenuBarGlyph.h"

#include "Runtime/VirtualWorld.h"

#include <gtest/gtest.h>

#include <variant>
#include <vector>

namespace talverin {
namespace {

using Frame = MenuBarIcon::Frame;

struct GlyphTest : ::testing::Test {
    VirtualWorld world;
    PillState state = PillState::listening("", 0);
    bool reduceMotion = false;
    std::vector<Frame> applied;
    MenuBarGlyph glyph;

    GlyphTest() {
        glyph.pillState = [this] { return state; };
        glyph.apply = [this](const MenuBarIcon::Image& image) { applied.push_back(image.frame); };
        glyph.reduceMotion = [this] { return reduceMotion; };
    }
    // One timer tick later.
    void tick() { world.advance(MenuBarGlyph::tickInterval); }
};

Frame listening(std::vector<float> levels) { return MenuBarIcon::Listening{MenuBarIcon::bars(levels)}; }

TEST_F(GlyphTest, ListeningAppendsOnlyNewLevelsAndRedrawsOnlyOnChange) {
    glyph.setActive(true);
    state = PillState::listening("", 0.25f);
    tick();
    tick();
    state = PillState::listening("", 0.64f);
    tick();
    tick();
    // From a to b the outer bars show a and the middle b, until a different level arrives.
    EXPECT_EQ(applied, (std::vector<Frame>{listening({0}), listening({0, 0.25f}),
                                           listening({0.25f, 0.64f})}));
    state = PillState::handsFree(3, "");
    tick();
    state = PillState::listening("", 0.64f);
    tick();
    // The states between listening forget the levels: the same level is new again.
    EXPECT_EQ(applied.back(), listening({0.64f}));
}

TEST_F(GlyphTest, PolishingAnimatesFromItsStartAndLatchesReduceMotion) {
    state = PillState::polishing();
    glyph.setActive(true);
    const double start = world.uptime();
    world.runUntil(start + 0.76);
    glyph.tick();
    EXPECT_EQ(std::get<MenuBarIcon::Polishing>(glyph.frame()),
              MenuBarIcon::polishing(world.uptime() - start, false));
    EXPECT_GT(applied.size(), 10u); // a new frame on most ticks while it moves

    // A second polishing with reduce motion on stays still even when the setting changes.
    state = PillState::inserted("Notes");
    tick();
    EXPECT_EQ(glyph.frame(), Frame(MenuBarIcon::Idle{}));
    reduceMotion = true;
    state = PillState::polishing();
    tick();
    reduceMotion = false;
    const auto before = applied.size();
    world.advance(1);
    EXPECT_EQ(glyph.frame(), Frame(MenuBarIcon::Polishing{1, 1, 1}));
    EXPECT_EQ(applied.size(), before);
}

TEST_F(GlyphTest, TheTimerRunsOnlyWhileActiveAndDeactivationRestsAtOnce) {
    EXPECT_EQ(world.pending(), 0u);
    state = PillState::polishing();
    glyph.setActive(true);
    glyph.setActive(true); // a second activation starts no second timer
    world.advance(0.5);
    const auto ticks = world.dispatched();
    world.advance(1);
    EXPECT_NEAR(static_cast<double>(world.dispatched() - ticks), 30, 1);

    glyph.setActive(false);
    EXPECT_EQ(applied.back(), Frame(MenuBarIcon::Idle{}));
    EXPECT_EQ(glyph.frame(), Frame(MenuBarIcon::Idle{}));
    world.runUntilIdle();
    EXPECT_EQ(world.pending(), 0u);
    const auto frames = applied.size();
    glyph.setActive(false);
    EXPECT_EQ(applied.size(), frames);
}

TEST_F(GlyphTest, AGlyphWithoutTimerOnlyChangesWhenTicked) {
    glyph.usesTimer = false;
    state = PillState::silence();
    glyph.setActive(true);
    EXPECT_EQ(world.pending(), 0u);
    EXPECT_TRUE(applied.empty()); // idle was already shown
    state = PillState::hidden();
    glyph.tick();
    EXPECT_EQ(applied, std::vector<Frame>{listening({})});
}

TEST(MenuBarGlyphState, WithoutAPillTheGlyphListensAtRest) {
    EXPECT_EQ(MenuBarGlyph::stateOf(nullptr), PillState::listening("", 0));
    const PillState copied = PillState::copied();
    EXPECT_EQ(MenuBarGlyph::stateOf(&copied), copied);
}

} // namespace
} // namespace talverin
