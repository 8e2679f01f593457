#include "TalverinPill/PillPlacement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace talverin {
namespace {

Rect rect(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}

PillScreen screenOf(std::uint32_t id, Rect frame) {
    Rect visible = frame;
    visible.size.height -= 30; // a panel along the top edge
    return {id, frame, visible, std::nullopt};
}

// The primary display, one stacked above it and one below it.
const PillScreen primary = screenOf(1, rect(0, 0, 1000, 800));
const PillScreen above = screenOf(2, rect(0, 800, 1000, 600));
const PillScreen below = screenOf(3, rect(0, -600, 1000, 600));

std::optional<std::uint32_t> idOf(const std::optional<PillScreen>& screen) {
    return screen ? std::optional(screen->id) : std::nullopt;
}

TEST(PillPlacement, AScreenOwnsItsTopEdgeButNotItsBottomEdge) {
    struct Row {
        const char* name;
        std::vector<PillScreen> screens;
        Point p;
        std::optional<std::uint32_t> expected;
    };
    const Row rows[] = {
        {"inside", {primary, above}, {500, 400}, 1},
        {"the shared edge is the lower screen's top", {above, primary}, {500, 800}, 1},
        {"the top of the upper screen", {primary, above}, {500, 1400}, 2},
        {"the bottom edge belongs to the screen below", {primary, below}, {500, 0}, 3},
        {"a bottom edge with nothing below: the grown frame", {primary, above}, {500, 0}, 1},
        {"just past the right edge", {primary}, {1000.5, 400}, 1},
        {"the left edge is inside", {primary}, {0, 400}, 1},
        {"far away", {primary, above}, {2000, 0}, std::nullopt},
        {"no screens", {}, {0, 0}, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(idOf(PillPlacement::screen(row.p, row.screens)), row.expected);
    }
}

TEST(PillPlacement, ARectangleMatchesItsExactScreenElseTheLargestOverlap) {
    const std::vector<PillScreen> screens = {primary, above, below};
    EXPECT_EQ(idOf(PillPlacement::screen(above.visibleFrame, screens)), 2u);
    // Mostly on the primary, a little on the one above.
    EXPECT_EQ(idOf(PillPlacement::screen(rect(100, 700, 200, 120), screens)), 1u);
    // Mostly above: the upper screen's visible frame starts at 800.
    EXPECT_EQ(idOf(PillPlacement::screen(rect(100, 760, 200, 200), screens)), 2u);
    // An equal share of two: the earlier in the list.
    EXPECT_EQ(idOf(PillPlacement::screen(rect(0, -55, 100, 80), {below, primary})), 3u);
    EXPECT_EQ(idOf(PillPlacement::screen(rect(0, -55, 100, 80), {primary, below})), 1u);
    // Touching is no overlap.
    EXPECT_EQ(PillPlacement::screen(rect(1000, 0, 50, 50), screens), std::nullopt);
}

TEST(PillPlacement, AWindowsScreenIsTheOneHoldingMostOfIt) {
    const std::vector<PillScreen> screens = {primary, above};
    constexpr double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(PillPlacement::visibleFrame(rect(10, 780, 100, 100), screens), above.visibleFrame);
    EXPECT_EQ(PillPlacement::visibleFrame(rect(10, 700, 100, 100), screens), primary.visibleFrame);
    const std::optional<Rect> none;
    EXPECT_EQ(PillPlacement::visibleFrame(none, screens), std::nullopt);
    EXPECT_EQ(PillPlacement::visibleFrame(rect(10, 10, 0, 100), screens), std::nullopt);
    EXPECT_EQ(PillPlacement::visibleFrame(rect(10, 10, 100, -1), screens), std::nullopt);
    EXPECT_EQ(PillPlacement::visibleFrame(rect(inf, inf, 0, 0), screens), std::nullopt);
    EXPECT_EQ(PillPlacement::visibleFrame(rect(std::nan(""), 0, 10, 10), screens), std::nullopt);
    EXPECT_EQ(PillPlacement::visibleFrame(rect(5000, 0, 10, 10), screens), std::nullopt);
}

TEST(PillPlacement, ThePointersScreenFallsBackToTheFirstThenToAStandIn) {
    EXPECT_EQ(PillPlacement::visibleFrame(Point{500, 900}, {primary, above}), above.visibleFrame);
    EXPECT_EQ(PillPlacement::visibleFrame(Point{9000, 9000}, {above, primary}), above.visibleFrame);
    EXPECT_EQ(PillPlacement::visibleFrame(Point{0, 0}, {}), rect(0, 0, 1440, 900));
}

TEST(PillPlacement, AfterAScreenChangeThePillStaysOnItsDisplayWhereverItMoved) {
    // The upper display moved to the right of the primary: its number still finds it.
    const PillScreen moved = screenOf(2, rect(1000, 0, 1000, 600));
    const std::vector<PillScreen> screens = {primary, moved};
    EXPECT_EQ(PillPlacement::visibleFrame(2u, Point{10, 10}, screens), moved.visibleFrame);
    EXPECT_EQ(PillPlacement::visibleFrame(7u, Point{1500, 10}, screens), moved.visibleFrame);
    EXPECT_EQ(PillPlacement::visibleFrame(std::nullopt, Point{10, 10}, screens),
              primary.visibleFrame);
    EXPECT_EQ(PillPlacement::visibleFrame(2u, Point{10, 10}, {}), rect(0, 0, 1440, 900));
}

TEST(PillPlacement, TheDefaultFrameSitsAtTheBottomCentreInsideTheRectangle) {
    EXPECT_EQ(PillPlacement::frame({64, 44}, rect(0, 40, 1441, 821)), rect(689, 64, 64, 44));
    EXPECT_EQ(PillPlacement::frame({64, 44}, rect(100, 40.5, 300, 800)), rect(218, 65, 64, 44));
    EXPECT_EQ(PillPlacement::frame({500, 44}, rect(100, 0, 300, 800)), rect(100, 24, 500, 44));
    EXPECT_EQ(PillPlacement::frame({300, 44}, rect(100, 0, 300, 800)), rect(100, 24, 300, 44));
    // A half point of rounding never pushes the frame past the right edge.
    EXPECT_EQ(PillPlacement::frame({100, 44}, rect(0.25, 0, 100.5, 800)), rect(0.75, 24, 100, 44));
}

} // namespace
} // namespace talverin
