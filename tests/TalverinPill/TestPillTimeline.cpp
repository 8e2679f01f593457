#include "TalverinPill/PillTimeline.h"

#include "TalverinPill/PillSpringMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Content = PillStep::Content;
using Spring = PillMetrics::Spring;
constexpr std::optional<Spring> still;
constexpr std::optional<PillFade> noFade;
constexpr Spring morph = PillMetrics::morph, collapse = PillMetrics::collapse,
                 drop = PillMetrics::drop;
constexpr auto fadeIn = PillFade::fadeIn, fadeOut = PillFade::fadeOut;

PillStep step(double at, PillStage stage, std::optional<Spring> spring, double opacity,
              std::optional<PillFade> fade, double scale, std::optional<Spring> scaleSpring,
              Content content) {
    return {at, stage, spring, opacity, fade, scale, scaleSpring, content};
}

struct ListRow {
    std::string name;
    std::vector<PillStep> actual;
    std::vector<PillStep> expected;
    double duration;
};

void expectLists(const std::vector<ListRow>& rows) {
    for (const ListRow& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(row.actual.size(), row.expected.size());
        for (std::size_t i = 0; i < row.actual.size(); ++i)
            EXPECT_EQ(row.actual[i], row.expected[i]) << "step " << i + 1;
        EXPECT_DOUBLE_EQ(PillTimeline::duration(row.actual), row.duration);
    }
}

TEST(PillTimeline, ShowDropsInThenGrowsOrMorphsDirectly) {
    const PillStage p = PillStage::pill(240);
    const auto grow = step(0.18, p, morph, 1, noFade, 1, still, Content::state(0.22));
    const auto direct = step(0, p, morph, 1, noFade, 1, still, Content::state(0.22));
    auto fadingDirect = direct;
    fadingDirect.fade = fadeIn;
    const auto instant = step(0, p, still, 1, noFade, 1, still, Content::state(0));
    using S = PillStage;
    expectLists({
        {"from nothing",
         PillTimeline::show(240, S::none(), false, false),
         {step(0, S::drop(), drop, 1, fadeIn, 1, drop, Content::out()), grow},
         0.18 + 0.45},
        {"from the bar",
         PillTimeline::show(240, S::bar(), false, false),
         {step(0, S::drop(), drop, 1, noFade, 1, still, Content::out()), grow},
         0.63},
        {"from the hover form",
         PillTimeline::show(240, S::hover(), false, false),
         {step(0, S::drop(), drop, 1, noFade, 1, still, Content::out()), grow},
         0.63},
        {"from the drop", PillTimeline::show(240, S::drop(), false, false), {direct}, 0.45},
        {"from another pill", PillTimeline::show(240, S::pill(180), false, false), {direct}, 0.45},
        {"island from nothing fades in while morphing",
         PillTimeline::show(240, S::none(), true, false),
         {fadingDirect},
         0.45},
        {"island from the bar", PillTimeline::show(240, S::bar(), true, false), {direct}, 0.45},
        {"island from the hover form",
         PillTimeline::show(240, S::hover(), true, false),
         {direct},
         0.45},
        {"reduce motion", PillTimeline::show(240, S::none(), false, true), {instant}, 0},
        {"reduce motion on the island",
         PillTimeline::show(240, S::bar(), true, true),
         {instant},
         0},
    });
}

TEST(PillTimeline, HideCollapsesToTheBarOrToNothing) {
    using S = PillStage;
    const auto outTo = [](S stage) {
        return step(0, stage, collapse, 1, noFade, 1, still, Content::out());
    };
    expectLists({
        {"island, idle bar", PillTimeline::hide(true, true, false), {outTo(S::bar())}, 0.36},
        {"island, no idle bar",
         PillTimeline::hide(false, true, false),
         {outTo(S::bar()), step(0.22, S::none(), still, 0, fadeOut, 1, still, Content::keep())},
         0.36},
        {"idle bar",
         PillTimeline::hide(true, false, false),
         {outTo(S::drop()), step(0.22, S::bar(), collapse, 1, noFade, 1, still, Content::keep())},
         0.22 + 0.36},
        {"no idle bar",
         PillTimeline::hide(false, false, false),
         {outTo(S::drop()),
          step(0.22, S::none(), collapse, 0, fadeOut, 0.6, collapse, Content::keep())},
         0.58},
        {"reduce motion, idle bar",
         PillTimeline::hide(true, false, true),
         {step(0, S::bar(), still, 1, noFade, 1, still, Content::out())},
         0},
        {"reduce motion, no idle bar",
         PillTimeline::hide(false, true, true),
         {step(0, S::none(), still, 0, noFade, 1, still, Content::out())},
         0},
    });
}

TEST(PillTimeline, SingleStepsForWidthIdleBarAndHover) {
    using S = PillStage;
    expectLists({
        {"wider",
         {PillTimeline::change(180, 240, false)},
         {step(0, S::pill(240), morph, 1, noFade, 1, still, Content::state(0.06))},
         0.45},
        {"narrower",
         {PillTimeline::change(240, 180, false)},
         {step(0, S::pill(180), collapse, 1, noFade, 1, still, Content::state(0.06))},
         0.36},
        {"the same width",
         {PillTimeline::change(240, 240, false)},
         {step(0, S::pill(240), still, 1, noFade, 1, still, Content::state(0.06))},
         0},
        {"wider, reduce motion",
         {PillTimeline::change(180, 240, true)},
         {step(0, S::pill(240), still, 1, noFade, 1, still, Content::state(0))},
         0},
        {"idle bar on",
         {PillTimeline::idleBar(true, false)},
         {step(0, S::bar(), collapse, 1, fadeIn, 1, collapse, Content::keep())},
         0.36},
        {"idle bar off",
         {PillTimeline::idleBar(false, false)},
         {step(0, S::none(), collapse, 0, fadeOut, 0.6, collapse, Content::out())},
         0.36},
        {"idle bar on, reduce motion",
         {PillTimeline::idleBar(true, true)},
         {step(0, S::bar(), still, 1, noFade, 1, still, Content::keep())},
         0},
        {"idle bar off, reduce motion",
         {PillTimeline::idleBar(false, true)},
         {step(0, S::none(), still, 0, noFade, 1, still, Content::out())},
         0},
        {"hover in",
         {PillTimeline::hoverIn(false)},
         {step(0, S::hover(), morph, 1, noFade, 1, still, Content::hover(0.04))},
         0.45},
        {"hover in, reduce motion",
         {PillTimeline::hoverIn(true)},
         {step(0, S::hover(), still, 1, noFade, 1, still, Content::hover(0))},
         0},
        {"hover out",
         {PillTimeline::hoverOut(false)},
         {step(0, S::bar(), collapse, 1, noFade, 1, still, Content::out())},
         0.36},
        {"hover out, reduce motion",
         {PillTimeline::hoverOut(true)},
         {step(0, S::bar(), still, 1, noFade, 1, still, Content::out())},
         0},
    });
}

TEST(PillTimeline, AStepLastsAsLongAsItsSlowestSpringOrFade) {
    using S = PillStage;
    EXPECT_EQ(PillTimeline::duration({}), 0);
    const auto fadeOnly = step(0, S::none(), still, 0, fadeOut, 1, still, Content::keep());
    EXPECT_DOUBLE_EQ(PillTimeline::duration({fadeOnly}), 0.11);
    auto fadingIn = fadeOnly;
    fadingIn.fade = fadeIn;
    EXPECT_DOUBLE_EQ(PillTimeline::duration({fadingIn}), 0.14);
    EXPECT_EQ(
        PillTimeline::duration({step(0.3, S::bar(), still, 1, noFade, 1, still, Content::keep())}),
        0.3);
    // The scale spring counts too, and the later of two steps may end first.
    EXPECT_DOUBLE_EQ(PillTimeline::duration({step(0, S::bar(), collapse, 1, noFade, 1,
                                                  PillMetrics::snap, Content::keep())}),
                     0.48);
    EXPECT_DOUBLE_EQ(
        PillTimeline::duration(
            {step(0, S::bar(), PillMetrics::snap, 1, noFade, 1, still, Content::keep()), fadeOnly}),
        0.48);
}

TEST(PillSpringMath, SettleTimesAndOvershootOfThePillsSprings) {
    struct Row {
        const char* name;
        Spring spring;
        double settle;
    };
    const Row rows[] = {
        {"morph", PillMetrics::morph, 0.45}, {"collapse", PillMetrics::collapse, 0.36},
        {"drop", PillMetrics::drop, 0.46},   {"snap", PillMetrics::snap, 0.48},
        {"lift", PillMetrics::lift, 0.30},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_DOUBLE_EQ(PillSpringMath::settleTime(row.spring), row.settle);
        // At the settle time it is at rest, a little before it was not.
        const auto rest = PillSpringMath::state(row.spring, row.settle);
        EXPECT_LT(std::abs(1 - rest.x), 0.001);
        EXPECT_LT(std::abs(rest.v), 0.05);
    }
    EXPECT_EQ(PillSpringMath::overshoot(PillMetrics::collapse), 0);
    EXPECT_NEAR(PillSpringMath::overshoot(PillMetrics::drop), 0.046, 0.0005);
    EXPECT_GT(PillSpringMath::overshoot(PillMetrics::snap), PillSpringMath::overshoot(morph));
}

TEST(PillSpringMath, EveryDampingStartsAtRestAndEndsAtOne) {
    for (double zeta : {0.3, 0.7, 1.0, 1.5, 3.0}) {
        SCOPED_TRACE(zeta);
        const Spring spring{0.3, zeta};
        const auto start = PillSpringMath::state(spring, 0);
        EXPECT_NEAR(start.x, 0, 1e-12);
        EXPECT_NEAR(start.v, 0, 1e-12);
        EXPECT_NEAR(PillSpringMath::state(spring, 10).x, 1, 1e-9);
        // The velocity is the derivative of the position.
        const double t = 0.05, h = 1e-6;
        const double slope =
            (PillSpringMath::state(spring, t + h).x - PillSpringMath::state(spring, t - h).x) /
            (2 * h);
        EXPECT_NEAR(PillSpringMath::state(spring, t).v, slope, 1e-4);
    }
    // Overdamped springs never pass 1, and take longer the heavier their damping.
    EXPECT_EQ(PillSpringMath::overshoot({0.3, 1.5}), 0);
    EXPECT_GT(PillSpringMath::settleTime({0.3, 3.0}), PillSpringMath::settleTime({0.3, 1.5}));
}

} // namespace
} // namespace talverin
