#include "TalverinPill/PillGeometry.h"

#include "fakes/PillMeasureFake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talverin {
namespace {

Rect rect(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}

// A 1512 x 982 display with a 190 x 37 camera housing; the menu band is as tall as the housing.
PillScreen notched() {
    const Rect frame = rect(0, 0, 1512, 982);
    return {1, frame, rect(0, 0, 1512, 945), PillScreen::notchFrom(frame, 37, 661, 661)};
}

// A plain display whose visible frame has an odd width and height, so centring lands on half
// points and must round.
PillScreen plain() {
    return {2, rect(0, 0, 1441, 900), rect(0, 40, 1441, 821), std::nullopt};
}

TEST(PillScreen, AHousingNeedsAnInsetAndRoomBetweenTheTopAreas) {
    const Rect frame = rect(100, 0, 1512, 982);
    EXPECT_EQ(PillScreen::notchFrom(frame, 37, 661, 661), rect(761, 945, 190, 37));
    EXPECT_EQ(PillScreen::notchFrom(frame, 0, 661, 661), std::nullopt);
    EXPECT_EQ(PillScreen::notchFrom(frame, -3, 661, 661), std::nullopt);
    EXPECT_EQ(PillScreen::notchFrom(frame, 37, std::nullopt, 661), std::nullopt);
    EXPECT_EQ(PillScreen::notchFrom(frame, 37, 661, std::nullopt), std::nullopt);
    EXPECT_EQ(PillScreen::notchFrom(frame, 37, 756, 756), std::nullopt) << "the areas meet";
    EXPECT_EQ(PillScreen::notchFrom(frame, 37, 800, 800), std::nullopt) << "they overlap";

    // Without a housing the top centre is an ordinary top anchor.
    PillScreen flat = notched();
    flat.notch = PillScreen::notchFrom(flat.frame, 37, 756, 756);
    const PillShapeTarget bar = PillGeometry::target(PillStage::bar(), PillSpot::topCenter, flat);
    EXPECT_EQ(bar, (PillShapeTarget{rect(734, 923, 44, 10), 5, 5, false}));
}

TEST(PillGeometry, TheNotchedDisplaysIslandFormsHangFromTheHousing) {
    const PillScreen screen = notched();
    ASSERT_EQ(screen.notch, rect(661, 945, 190, 37));
    struct Row {
        const char* name;
        PillStage stage;
        PillShapeTarget target;
    };
    const Row rows[] = {
        {"bar", PillStage::bar(), {rect(661, 945, 190, 37), 0, 9, true}},
        {"none", PillStage::none(), {rect(661, 945, 190, 37), 0, 9, true}},
        {"drop", PillStage::drop(), {rect(661, 945, 190, 37), 0, 9, true}},
        {"hover", PillStage::hover(), {rect(606, 917, 300, 65), 0, 16, true}},
        {"narrow pill widened", PillStage::pill(200), {rect(637, 901, 238, 81), 0, 22, true}},
        {"wide pill kept", PillStage::pill(341), {rect(586, 901, 341, 81), 0, 22, true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PillGeometry::target(row.stage, PillSpot::topCenter, screen), row.target);
    }
    EXPECT_EQ(PillGeometry::homeBox(PillSpot::topCenter, screen), rect(506, 861, 500, 121));
    EXPECT_TRUE(PillGeometry::isIsland(PillSpot::topCenter, screen));
    EXPECT_FALSE(PillGeometry::isIsland(PillSpot::topLeft, screen));
    EXPECT_FALSE(PillGeometry::isIsland(PillSpot::topCenter, plain()));

    // A housing exactly as wide as the box keeps its own x, whatever rounding would say.
    PillScreen wide = screen;
    wide.notch = rect(506.5, 945, 500, 37);
    EXPECT_EQ(PillGeometry::homeBox(PillSpot::topCenter, wide), rect(506.5, 861, 500, 121));
}

TEST(PillGeometry, StageSizesStandUprightOnlyAtTheSides) {
    struct Row {
        PillStage stage;
        Size flat;
        Size upright;
    };
    const Row rows[] = {
        {PillStage::pill(180), {180, 44}, {180, 44}}, {PillStage::none(), {44, 44}, {44, 44}},
        {PillStage::bar(), {44, 10}, {10, 44}},       {PillStage::hover(), {64, 44}, {44, 64}},
        {PillStage::drop(), {44, 44}, {44, 44}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(PillGeometry::size(row.stage, PillSpot::bottomCenter), row.flat);
        EXPECT_EQ(PillGeometry::size(row.stage, PillSpot::middleLeft), row.upright);
        EXPECT_EQ(PillGeometry::size(row.stage, std::nullopt, true), row.upright);
    }
    // A housing decides the size whatever the upright flag says.
    const Rect housing = rect(0, 0, 320, 30);
    EXPECT_EQ(PillGeometry::size(PillStage::hover(), housing, true), (Size{320, 58}));
    EXPECT_EQ(PillGeometry::size(PillStage::bar(), housing, true), (Size{320, 30}));
    EXPECT_EQ(PillGeometry::size(PillStage::pill(100), housing, false), (Size{368, 74}));
}

// The ghosts are the hover form at every spot: this walks the anchoring of all eight.
TEST(PillGeometry, GhostsAnchorTheHoverFormAtEverySpotAtWholePoints) {
    const std::vector<PillGhost> expected = {
        {PillSpot::topLeft, {rect(24, 805, 64, 44), 22, 22, false}},
        {PillSpot::topCenter, {rect(689, 805, 64, 44), 22, 22, false}},
        {PillSpot::topRight, {rect(1353, 805, 64, 44), 22, 22, false}},
        {PillSpot::middleLeft, {rect(8, 419, 44, 64), 22, 22, false}},
        {PillSpot::middleRight, {rect(1389, 419, 44, 64), 22, 22, false}},
        {PillSpot::bottomLeft, {rect(24, 64, 64, 44), 22, 22, false}},
        {PillSpot::bottomCenter, {rect(689, 64, 64, 44), 22, 22, false}},
        {PillSpot::bottomRight, {rect(1353, 64, 64, 44), 22, 22, false}},
    };
    EXPECT_EQ(PillGeometry::ghosts(plain()), expected);

    const auto onNotch = PillGeometry::ghosts(notched());
    ASSERT_EQ(onNotch.size(), 8u);
    EXPECT_EQ(onNotch[1].target, (PillShapeTarget{rect(606, 917, 300, 65), 0, 16, true}));
    EXPECT_EQ(onNotch[0].target.frame, rect(24, 889, 64, 44)) << "below the menu band";
}

TEST(PillGeometry, HomeBoxesAreTheInnerBoxGrownByTheMargin) {
    const PillScreen screen = plain();
    EXPECT_EQ(PillGeometry::homeBox(PillSpot::bottomCenter, screen), rect(471, 24, 500, 168));
    EXPECT_EQ(PillGeometry::homeBox(PillSpot::topLeft, screen), rect(-16, 765, 500, 124));
    EXPECT_EQ(PillGeometry::homeBox(PillSpot::middleRight, screen), rect(973, 379, 500, 144));
    EXPECT_EQ(PillGeometry::homeBox(PillSpot::topCenter, screen), rect(471, 721, 500, 168));
}

TEST(PillGeometry, ContentHugsTheAnchoredEdgeUnlessOnTheIslandOrDragged) {
    using H = PillContentAlign::Horizontal;
    using V = PillContentAlign::Vertical;
    struct Row {
        PillSpot spot;
        PillContentAlign align;
        Rect frame; // a 100 x 20 content in (0, 0, 300, 60)
    };
    const Row rows[] = {
        {PillSpot::topLeft, {H::leading, V::top}, rect(0, 40, 100, 20)},
        {PillSpot::topCenter, {H::center, V::top}, rect(100, 40, 100, 20)},
        {PillSpot::topRight, {H::trailing, V::top}, rect(200, 40, 100, 20)},
        {PillSpot::middleLeft, {H::leading, V::center}, rect(0, 20, 100, 20)},
        {PillSpot::middleRight, {H::trailing, V::center}, rect(200, 20, 100, 20)},
        {PillSpot::bottomLeft, {H::leading, V::bottom}, rect(0, 0, 100, 20)},
        {PillSpot::bottomCenter, {H::center, V::bottom}, rect(100, 0, 100, 20)},
        {PillSpot::bottomRight, {H::trailing, V::bottom}, rect(200, 0, 100, 20)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(toString(row.spot));
        const PillContentAlign align = PillGeometry::contentAlign(row.spot, false, false);
        EXPECT_EQ(align, row.align);
        EXPECT_EQ(PillGeometry::contentFrame({100, 20}, rect(0, 0, 300, 60), align), row.frame);
        EXPECT_EQ(PillGeometry::contentAlign(row.spot, true, true), PillContentAlign::island());
        EXPECT_EQ(PillGeometry::contentAlign(row.spot, false, true), PillContentAlign::center());
    }
    // No rounding: a centred odd size stays on the half point.
    EXPECT_EQ(PillGeometry::contentFrame({101, 21}, rect(0, 0, 300, 60), {}),
              rect(99.5, 19.5, 101, 21));
    EXPECT_EQ(PillGeometry::stopRect(rect(10, 100, 380, 44)), rect(352, 106, 32, 32));
}

TEST(PillGeometry, HitAreasGrowByTheSlopAndReachAnIslandThroughTheHousing) {
    const PillScreen screen = notched();
    const PillShapeTarget bar = PillGeometry::target(PillStage::bar(), PillSpot::topCenter, screen);
    const PillHitArea barArea = PillGeometry::hitArea(bar, screen);
    EXPECT_EQ(barArea.rects, (std::vector{rect(653, 937, 206, 8), rect(661, 945, 190, 45)}));

    const PillShapeTarget pill =
        PillGeometry::target(PillStage::pill(200), PillSpot::topCenter, screen);
    EXPECT_EQ(PillGeometry::hitArea(pill, screen).rects,
              (std::vector{rect(629, 893, 254, 52), rect(661, 945, 190, 45)}));

    struct Probe {
        Point p;
        bool hit;
    };
    const Probe probes[] = {
        {{700, 989.9}, true}, {{700, 990}, false}, {{655, 940}, true}, {{655, 950}, false},
        {{661, 960}, true},   {{851, 960}, false}, {{653, 937}, true}, {{652.9, 940}, false},
    };
    for (const Probe& probe : probes) {
        SCOPED_TRACE(std::to_string(probe.p.x) + ", " + std::to_string(probe.p.y));
        EXPECT_EQ(barArea.contains(probe.p), probe.hit);
    }

    // Where the visible frame ends below the housing, the band starts there.
    PillScreen lowBand = screen;
    lowBand.visibleFrame = rect(0, 0, 1512, 930);
    EXPECT_EQ(PillGeometry::hitArea(pill, lowBand).rects,
              (std::vector{rect(629, 893, 254, 37), rect(661, 930, 190, 60)}));
    // A shape wholly inside the band has only the column.
    PillShapeTarget high = bar;
    high.frame = rect(661, 955, 190, 32);
    EXPECT_EQ(PillGeometry::hitArea(high, screen).rects, (std::vector{rect(661, 945, 190, 50)}));

    // Elsewhere, and for an island target on a screen without a housing, the grown frame.
    const PillShapeTarget free = PillGeometry::capsule(rect(100, 100, 64, 44));
    EXPECT_EQ(PillGeometry::hitArea(free, screen).rects, (std::vector{rect(92, 92, 80, 60)}));
    EXPECT_EQ(PillGeometry::hitArea(bar, plain()).rects, (std::vector{rect(653, 937, 206, 53)}));
}

TEST(PillGeometry, NearestSpotPrefersTheEarlierOnTiesAndKeepsThePreviousWithinHysteresis) {
    using SC = PillGeometry::SpotCentre;
    const std::vector<SC> two = {{PillSpot::bottomLeft, {0, 0}}, {PillSpot::bottomRight, {100, 0}}};
    struct Row {
        const char* name;
        Point pointer;
        std::optional<PillSpot> previous;
        std::optional<PillSpot> expected;
    };
    const Row rows[] = {
        {"nearer to the first", {30, 0}, std::nullopt, PillSpot::bottomLeft},
        {"a tie goes to the earlier", {50, 10}, std::nullopt, PillSpot::bottomLeft},
        {"a tie keeps a previous later one", {50, 0}, PillSpot::bottomRight, PillSpot::bottomRight},
        {"previous is 20 farther: kept", {40, 0}, PillSpot::bottomRight, PillSpot::bottomRight},
        {"previous is exactly 24 farther: left",
         {38, 0},
         PillSpot::bottomRight,
         PillSpot::bottomLeft},
        {"previous is 30 farther: left", {35, 0}, PillSpot::bottomRight, PillSpot::bottomLeft},
        {"previous not among the ghosts", {80, 0}, PillSpot::topCenter, PillSpot::bottomRight},
        {"previous is the nearest", {80, 0}, PillSpot::bottomRight, PillSpot::bottomRight},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PillGeometry::nearestSpot(row.pointer, two, row.previous, 24), row.expected);
    }
    EXPECT_EQ(PillGeometry::nearestSpot({0, 0}, {}, PillSpot::topLeft, 24), std::nullopt);
    // Three equal distances: the first of them in the list.
    const std::vector<SC> ring = {{PillSpot::topRight, {0, 10}},
                                  {PillSpot::topLeft, {10, 0}},
                                  {PillSpot::middleLeft, {-10, 0}}};
    EXPECT_EQ(PillGeometry::nearestSpot({0, 0}, ring, std::nullopt, 0), PillSpot::topRight);
}

TEST(PillGeometry, ADraggedPillOverhangsTheScreenByAtMostTheOvershoot) {
    const Rect screen = rect(0, 0, 1000, 800);
    const Size size{100, 44};
    struct Row {
        Point centre;
        Point clamped;
    };
    const Row rows[] = {
        {{500, 400}, {500, 400}}, {{-500, 400}, {10, 400}}, {{5000, 400}, {990, 400}},
        {{500, -50}, {500, 12}},  {{500, 900}, {500, 788}}, {{-1, -1}, {10, 12}},
        {{990, 788}, {990, 788}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(PillGeometry::clampDrag(row.centre, size, screen), row.clamped);
    // Larger than the span it may move in: the lower bound wins.
    EXPECT_EQ(PillGeometry::clampDrag({0, 0}, {1200, 900}, screen), (Point{560, 440}));
    EXPECT_EQ(PillGeometry::clampDrag({9999, 9999}, {1200, 900}, screen), (Point{560, 440}));

    // The grab point stays under the pointer: grabbed at (0.2, 0.8) the centre sits to the
    // right of and below the pointer.
    EXPECT_EQ(PillGeometry::magnetPoint({500, 400}, {0.2, 0.8}, {100, 40}, screen),
              (Point{530, 388}));
    EXPECT_EQ(PillGeometry::draggedFrame({500, 400}, {0.2, 0.8}, {100, 40}, screen),
              rect(480, 368, 100, 40));
    EXPECT_EQ(PillGeometry::draggedFrame({-300, 400}, {0.5, 0.5}, {100, 40}, screen),
              rect(-40, 380, 100, 40));
}

TEST(PillGeometry, GrabFractionsStayWithinTheUnitSquare) {
    const Rect r = rect(100, 100, 200, 50);
    EXPECT_EQ(PillGeometry::grabFraction({150, 110}, r), (Point{0.25, 0.2}));
    EXPECT_EQ(PillGeometry::grabFraction({0, 500}, r), (Point{0, 1}));
    EXPECT_EQ(PillGeometry::grabFraction({900, -5}, r), (Point{1, 0}));
    EXPECT_EQ(PillGeometry::grabFraction({3, 4}, rect(10, 10, 0, 0)), (Point{0.5, 0.5}));
    EXPECT_EQ(PillGeometry::grabFraction({3, 4}, rect(10, 10, -5, 20)), (Point{0.5, 0}));
}

TEST(PillGeometry, GrabbedAndLiftedFormsFollowTheSpot) {
    const PillScreen island = notched(), flat = plain();
    EXPECT_EQ(PillGeometry::grabbedShape(PillSpot::topCenter, island, 240),
              rect(636, 954, 240, 28));
    EXPECT_EQ(PillGeometry::grabbedShape(PillSpot::topCenter, flat, 240), rect(689, 805, 64, 44));
    EXPECT_EQ(PillGeometry::grabbedShape(PillSpot::middleLeft, island, 240), rect(8, 441, 44, 64));

    EXPECT_EQ(PillGeometry::liftedSize(PillSpot::topCenter, island, 240), (Size{240, 28}));
    EXPECT_EQ(PillGeometry::liftedSize(PillSpot::topCenter, flat, 240), (Size{64, 44}));
    EXPECT_EQ(PillGeometry::liftedSize(PillSpot::middleRight, island, 240), (Size{44, 64}));
    EXPECT_EQ(PillGeometry::liftedSize(PillSpot::bottomLeft, island, 240), (Size{64, 44}));
    EXPECT_EQ(PillGeometry::liftedSize(std::nullopt, island, 240), (Size{64, 44}));

    const Rect hover = rect(0, 0, 64, 44);
    EXPECT_EQ(PillGeometry::micCentre(hover), (Point{32, 22}));
    EXPECT_TRUE(PillGeometry::isOnMic({48, 22}, hover)) << "exactly on the button's rim";
    EXPECT_FALSE(PillGeometry::isOnMic({48.01, 22}, hover));
    EXPECT_FALSE(PillGeometry::isOnMic({44, 34}, hover)) << "inside the square, off the disc";
}

TEST(PillGeometry, HintWidthsRoundTheirSumAndTheHoverIsEvenAndAtLeastTheMinimum) {
    test::PillMeasureFake fonts;
    fonts.widths = {{"Hold", 25.3}, {"right \u2325", 40.2}, {"long", 150.3}, {"odd", 147}};
    const auto measure = fonts.unrounded();
    struct Row {
        const char* lead;
        double hover;
        double bubble;
    };
    const Row rows[] = {
        // lead + 24 + 6 + 12 + key, and for the bubble lead + 28 + 6 + 12 + key
        {"Hold", 204, 112}, // 107.5 is below the minimum; 111.5 rounds up
        {"long", 234, 237}, // 232.5 gives 234; 236.5 gives 237
        {"odd", 230, 234},  // 229.2 gives 230, never 231
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lead);
        EXPECT_EQ(PillGeometry::hoverWidth(row.lead, "right \u2325", measure), row.hover);
        EXPECT_EQ(PillGeometry::bubbleWidth(row.lead, "right \u2325", measure), row.bubble);
    }
    // The lead is set at 12.5 points, weight 500, in the hover; at 13.5 in the bubble; the key
    // at 12 points, weight 600; never with tabular digits.
    fonts.calls.clear();
    PillGeometry::hoverWidth("Hold", "F13", fonts.measure());
    PillGeometry::bubbleWidth("Hold", "F13", fonts.measure());
    ASSERT_EQ(fonts.calls.size(), 4u);
    EXPECT_EQ(fonts.calls[0].size, 12.5);
    EXPECT_EQ(fonts.calls[0].weight, 500);
    EXPECT_EQ(fonts.calls[1].text, "F13");
    EXPECT_EQ(fonts.calls[1].size, 12);
    EXPECT_EQ(fonts.calls[1].weight, 600);
    EXPECT_EQ(fonts.calls[2].size, 13.5);
    for (const auto& call : fonts.calls)
        EXPECT_FALSE(call.tabular);
}

TEST(PillGeometry, TheBubbleSitsBesideThePillOnTheSideAwayFromTheEdge) {
    const Rect pill = rect(100, 100, 65, 45); // mid (132.5, 122.5)
    struct Row {
        PillSpot spot;
        PillBubblePlacement placement;
        Rect frame; // a 90 wide bubble
        PillVector slide;
    };
    const Row rows[] = {
        {PillSpot::topLeft, PillBubblePlacement::right, rect(173, 105, 90, 36), {-6, 0}},
        {PillSpot::topCenter, PillBubblePlacement::below, rect(88, 56, 90, 36), {0, 6}},
        {PillSpot::topRight, PillBubblePlacement::left, rect(2, 105, 90, 36), {6, 0}},
        {PillSpot::middleLeft, PillBubblePlacement::right, rect(173, 105, 90, 36), {-6, 0}},
        {PillSpot::middleRight, PillBubblePlacement::left, rect(2, 105, 90, 36), {6, 0}},
        {PillSpot::bottomLeft, PillBubblePlacement::right, rect(173, 105, 90, 36), {-6, 0}},
        {PillSpot::bottomCenter, PillBubblePlacement::above, rect(88, 153, 90, 36), {0, -6}},
        {PillSpot::bottomRight, PillBubblePlacement::left, rect(2, 105, 90, 36), {6, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(toString(row.spot));
        EXPECT_EQ(PillGeometry::bubblePlacement(row.spot), row.placement);
        EXPECT_EQ(PillGeometry::bubbleFrame(pill, row.spot, 90), row.frame);
        EXPECT_EQ(PillGeometry::bubbleSlide(row.spot), row.slide);
    }
}

} // namespace
} // namespace talverin
