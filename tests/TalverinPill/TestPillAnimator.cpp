#include "TalverinPill/PillAnimator.h"

#include "TalverinPill/PillAnimatedView.h"
#include "TalverinPill/PillModel.h"
#include "TalverinPill/PillOverlayViews.h"
#include "TalverinPill/PillSpringMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Spring = PillMetrics::Spring;

const PillShapeTarget targetA{{{100, 100}, {120, 44}}, 22, 22, false};
const PillShapeTarget targetB{{{600, 400}, {200, 44}}, 22, 22, false};
const PillShapeTarget targetC{{{300, 900}, {160, 44}}, 22, 22, false};

// A model at rest at A: opaque, full size, no content.
PillModel restingModel() {
    PillModel model;
    model.setWindow({{0, 0}, {1000, 1000}});
    model.move(targetA, std::nullopt);
    model.setOpacity(1, std::nullopt);
    model.setScale(1, std::nullopt);
    return model;
}

TEST(PillMotionMath, AStepFromRestIsTheUnitResponse) {
    for (const Spring spring : {PillMetrics::morph, PillMetrics::collapse, PillMetrics::drop,
                                PillMetrics::snap, Spring{0.3, 1.4}}) {
        SCOPED_TRACE(spring.dampingFraction);
        for (const double t : {0.0, 0.05, 0.13, 0.4, 1.2}) {
            const auto unit = PillSpringMath::state(spring, t);
            const auto from = PillMotionMath::spring(spring, -1, 0, t);
            EXPECT_NEAR(1 + from.d, unit.x, 1e-9) << t;
            EXPECT_NEAR(from.v, unit.v, 1e-9) << t;
        }
        EXPECT_DOUBLE_EQ(PillMotionMath::settleTime(spring, -1, 0),
                         PillSpringMath::settleTime(spring));
    }
}

TEST(PillMotionMath, TheVelocityIsTheSlopeOfTheDeviation) {
    // With a start velocity too, for every kind of damping.
    for (const Spring spring : {PillMetrics::drop, PillMetrics::collapse, Spring{0.3, 1.4}}) {
        for (const double t : {0.01, 0.1, 0.3}) {
            const double h = 1e-6;
            const auto a = PillMotionMath::spring(spring, 40, -300, t - h);
            const auto b = PillMotionMath::spring(spring, 40, -300, t + h);
            const auto at = PillMotionMath::spring(spring, 40, -300, t);
            EXPECT_NEAR(at.v, (b.d - a.d) / (2 * h), 1e-3 * std::max(1.0, std::abs(at.v)));
        }
        const auto start = PillMotionMath::spring(spring, 40, -300, 0);
        EXPECT_NEAR(start.d, 40, 1e-9);
        EXPECT_NEAR(start.v, -300, 1e-9);
    }
}

TEST(PillMotionMath, EasingCurvesHitKnownPoints) {
    struct Row {
        ThemeTokens::Curve curve;
        double x;
        double y;
    };
    const Row rows[] = {
        {{0.25, 0.25, 0.75, 0.75}, 0.3, 0.3},              // the straight line
        {{0.25, 0.1, 0.25, 1.0}, 0.5, 0.8024033877399112}, // the web's "ease"
        {{0.42, 0, 1, 1}, 0.5, 0.3153568254},              // "ease-in"
        {PillMetrics::ease, 0, 0},
        {PillMetrics::ease, 1, 1},
        {PillMetrics::ease, 1.5, 1}, // past the end stays at the end
        {PillMetrics::ease, -0.2, 0},
    };
    for (const Row& row : rows)
        EXPECT_NEAR(PillMotionMath::ease(row.curve, row.x), row.y, 1e-6) << row.x;
    double last = 0;
    for (int i = 1; i <= 100; ++i) {
        const double y = PillMotionMath::ease(ThemeTokens::Ease::base, i / 100.0);
        EXPECT_GE(y, last);
        last = y;
    }
}

TEST(PillAnimator, ASpringRetargetsFromWhatIsPresented) {
    PillModel model = restingModel();
    PillAnimator animator(model);
    EXPECT_EQ(animator.frame(0).shape.centre, (Point{160, 122}));

    model.move(targetB, PillAnim::spring(PillMetrics::drop));
    animator.sync(model, 10.0);
    EXPECT_EQ(animator.frame(10.0).shape.centre, (Point{160, 122}));
    const Point midway = animator.frame(10.1).shape.centre;
    ASSERT_GT(midway.x, 160);
    ASSERT_LT(midway.x, 700);
    const Point before = animator.frame(10.1 - 1e-4).shape.centre;

    // Halfway there the pill is sent to C: it starts from where it was shown, still moving
    // the way it went, and arrives at C.
    model.move(targetC, PillAnim::spring(PillMetrics::snap));
    animator.sync(model, 10.1);
    EXPECT_EQ(animator.frame(10.1).shape.centre, midway);
    const Point after = animator.frame(10.1 + 1e-4).shape.centre;
    EXPECT_NEAR(after.x - midway.x, midway.x - before.x, 0.05);
    EXPECT_NEAR(after.y - midway.y, midway.y - before.y, 0.05);
    EXPECT_TRUE(animator.animating(10.5));
    EXPECT_FALSE(animator.animating(14));
    EXPECT_EQ(animator.frame(14).shape.centre, (Point{380, 922}));
    // The size follows the same spring as the place.
    EXPECT_EQ(animator.frame(14).shape.look.size, (Size{160, 44}));
}

TEST(PillAnimator, FadesWaitTheirDelayAndFollowTheEase) {
    struct Row {
        PillFade fade;
        double from;
        double to;
        double delay;
        double length;
    };
    const Row rows[] = {
        {PillFade::fadeIn, 0, 1, 0.22, PillMetrics::fadeIn},
        {PillFade::fadeIn, 0, 1, 0, 0.14},
        {PillFade::fadeOut, 1, 0, 0, PillMetrics::fadeOut},
        {PillFade::fadeOut, 1, 0, 0.06, 0.11},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.delay);
        PillModel model = restingModel();
        model.setOpacity(row.from, std::nullopt);
        PillAnimator animator(model);
        model.setOpacity(row.to, PillAnim::fade(row.fade, row.delay));
        animator.sync(model, 5);
        EXPECT_EQ(animator.frame(5 + row.delay * 0.99).shape.opacity, row.from);
        const double half = PillMotionMath::ease(PillMetrics::ease, 0.5);
        EXPECT_NEAR(animator.frame(5 + row.delay + row.length / 2).shape.opacity,
                    row.from + (row.to - row.from) * half, 1e-6);
        EXPECT_TRUE(animator.animating(5 + row.delay + row.length * 0.99));
        EXPECT_FALSE(animator.animating(5 + row.delay + row.length));
        EXPECT_EQ(animator.frame(5 + row.delay + row.length).shape.opacity, row.to);
    }
}

TEST(PillAnimator, ColourChangesTakeASixthOfASecond) {
    PillModel model = restingModel();
    model.setGhosts({{PillSpot::topLeft, targetA}, {PillSpot::bottomRight, targetB}});
    PillAnimator animator(model);
    model.setHot(PillSpot::topLeft, true);
    model.setMicHot(true, true);
    animator.sync(model, 1);
    const double mid = PillMotionMath::ease(ThemeTokens::Ease::base, 0.5);
    EXPECT_NEAR(animator.frame(1.08).hotMix.at(PillSpot::topLeft), mid, 1e-6);
    EXPECT_NEAR(animator.frame(1.08).micHotMix, mid, 1e-6);
    EXPECT_EQ(animator.frame(1.16).hotMix.at(PillSpot::topLeft), 1);

    // The highlight moves on: the old spot fades back while the new one lights up.
    model.setHot(PillSpot::bottomRight, true);
    animator.sync(model, 2);
    const auto frame = animator.frame(2.08);
    EXPECT_NEAR(frame.hotMix.at(PillSpot::topLeft), 1 - mid, 1e-6);
    EXPECT_NEAR(frame.hotMix.at(PillSpot::bottomRight), mid, 1e-6);
    EXPECT_FALSE(animator.animating(2.16));

    // Without animation the colour changes at once.
    model.setHot(std::nullopt, false);
    animator.sync(model, 3);
    for (const auto& [spot, mix] : animator.frame(3).hotMix)
        EXPECT_EQ(mix, 0) << int(spot);
    EXPECT_FALSE(animator.animating(3));
}

TEST(PillAnimator, NewContentCrossFadesOverTheOld) {
    PillModel model = restingModel();
    PillAnimator animator(model);
    model.startContent(PillContentLayer::Kind::mic("Start", false), 0.22);
    animator.sync(model, 1);
    const std::int64_t first = model.layers().back().id;
    EXPECT_EQ(animator.frame(1.2).layerOpacity.at(first), 0);
    EXPECT_EQ(animator.frame(1.36).layerOpacity.at(first), 1);

    model.startContent(PillContentLayer::Kind::hover("Hold", "F5", 120), 0.06);
    animator.sync(model, 2);
    const std::int64_t second = model.layers().back().id;
    auto ids = [](const PillAnimator::Frame& frame) {
        std::vector<std::int64_t> out;
        for (const auto& layer : frame.layers)
            out.push_back(layer.id);
        return out;
    };
    // The old layer leaves at once from the model, yet is drawn, under the new one, while it
    // fades out in 0.11 s; the new one waits 0.06 s, then fades in over 0.14 s.
    const auto during = animator.frame(2.05);
    EXPECT_EQ(ids(during), (std::vector<std::int64_t>{first, second}));
    EXPECT_GT(during.layerOpacity.at(first), 0);
    EXPECT_LT(during.layerOpacity.at(first), 1);
    EXPECT_EQ(during.layerOpacity.at(second), 0);
    EXPECT_EQ(ids(animator.frame(2.11)), (std::vector<std::int64_t>{second}));
    EXPECT_TRUE(animator.animating(2.19));
    EXPECT_EQ(animator.frame(2.2).layerOpacity.at(second), 1);
    EXPECT_FALSE(animator.animating(2.2));

    // An update in place keeps the layer and its opacity; a sync long after forgets the
    // leaver even though no frame was drawn in between.
    model.updateHover("Hold", "F6", 130);
    animator.sync(model, 9);
    EXPECT_EQ(ids(animator.frame(9)), (std::vector<std::int64_t>{second}));
    EXPECT_EQ(animator.frame(9).layers[0].kind, model.layers()[0].kind);
    EXPECT_EQ(animator.frame(9).layerOpacity.at(second), 1);
    EXPECT_FALSE(animator.animating(9));
}

TEST(PillAnimator, ReducedMotionSwapsContentAtOnce) {
    PillModel model = restingModel();
    model.setReduceMotion(true);
    model.startContent(PillContentLayer::Kind::mic("Start", false), 0.22);
    PillAnimator animator(model);
    model.startContent(PillContentLayer::Kind::hover("Hold", "F5", 120), 0.06);
    model.move(targetB, PillAnim::spring(PillMetrics::morph));
    animator.sync(model, 1);
    const auto frame = animator.frame(1);
    ASSERT_EQ(frame.layers.size(), 1u);
    EXPECT_EQ(frame.layerOpacity.at(frame.layers[0].id), 1);
    EXPECT_EQ(frame.shape.centre, (Point{700, 422}));
    EXPECT_FALSE(animator.animating(1));
}

TEST(PillAnimator, TheBubbleSlidesInAfterItsDelay) {
    PillModel model = restingModel();
    model.setBubble({{{200, 200}, {150, 32}}, "Hold", "F5", {0, -12}});
    PillAnimator animator(model);
    EXPECT_EQ(animator.frame(0).bubbleOffset, (Point{0, -12}));
    model.showBubble(true);
    animator.sync(model, 1);
    EXPECT_EQ(animator.frame(1.07).bubbleOffset, (Point{0, -12}));
    EXPECT_EQ(animator.frame(1.07).bubbleOpacity, 0);
    EXPECT_GT(animator.frame(1.15).bubbleOffset.y, -12);
    EXPECT_GT(animator.frame(1.15).bubbleOpacity, 0);
    EXPECT_EQ(animator.frame(3).bubbleOffset, (Point{0, 0}));
    EXPECT_EQ(animator.frame(3).bubbleOpacity, 1);
    EXPECT_FALSE(animator.animating(3));
}

TEST(PillAnimator, NothingMovesWithoutAChange) {
    PillModel model = restingModel();
    model.startContent(PillContentLayer::Kind::mic("Start", false), 0);
    PillAnimator animator(model);
    EXPECT_FALSE(animator.animating(0));
    // Writes that keep every value (a move to where it is) start nothing.
    model.move(targetA, PillAnim::spring(PillMetrics::morph));
    model.setLevels({0.1f, 0.2f});
    animator.sync(model, 1);
    EXPECT_FALSE(animator.animating(1));

    // The polishing dots pulse while they are on show, and only then.
    PillFace polishing;
    polishing.key = "polishing";
    polishing.mark = PillFace::Mark::dots();
    polishing.width = 140;
    model.startContent(PillContentLayer::Kind::state(polishing), 0);
    animator.sync(model, 2);
    EXPECT_TRUE(animator.animating(60));
    // Only the dots: they ask for their own slower frames, not the display's every one.
    EXPECT_TRUE(animator.pulsing(60));
    EXPECT_FALSE(animator.moving(60));
    model.setReduceMotion(true);
    animator.sync(model, 61);
    EXPECT_FALSE(animator.animating(61));
    EXPECT_FALSE(animator.pulsing(61));
    model.setReduceMotion(false);
    model.setOpacity(0, std::nullopt);
    animator.sync(model, 62);
    EXPECT_FALSE(animator.animating(62));
    EXPECT_FALSE(animator.pulsing(62));
    // A fade under the dots is motion: it takes every frame while it runs.
    model.setOpacity(1, PillAnim::fade(PillFade::fadeIn, 0));
    animator.sync(model, 63);
    EXPECT_TRUE(animator.moving(63.05));
    EXPECT_TRUE(animator.pulsing(63.05));
    EXPECT_FALSE(animator.moving(64));
}

// An ARGB image of the overlay of `width` x `height` points at one pixel a point.
std::vector<unsigned char> render(int width, int height,
                                  const std::function<void(cairo_t*)>& draw) {
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    auto* cr = cairo_create(surface);
    draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const auto* data = cairo_image_surface_get_data(surface);
    std::vector<unsigned char> out(data, data + cairo_image_surface_get_stride(surface) * height);
    cairo_surface_destroy(surface);
    return out;
}

TEST(PillAnimatedView, AtRestItDrawsTheModelsOwnScene) {
    PillModel model = restingModel();
    model.setWindow({{0, 0}, {400, 300}});
    model.setGhosts({{PillSpot::topLeft, {{{20, 200}, {100, 44}}, 22, 22, false}},
                     {PillSpot::bottomLeft, {{{20, 20}, {100, 44}}, 22, 22, false}}});
    model.showGhosts(true);
    model.setHot(PillSpot::bottomLeft, true);
    model.setMicHot(true, true);
    model.setBubble({{{200, 200}, {150, 32}}, "Hold", "F5", {0, -12}});
    model.showBubble(true);
    model.startContent(PillContentLayer::Kind::mic("Start", false), 0.22);
    PillAnimator animator(model);
    animator.sync(model, 0);
    const auto frame = animator.frame(0);
    const auto live = render(400, 300, [&](cairo_t* cr) {
        PillAnimatedView{model, frame}.draw(cr);
    });
    const auto still = render(400, 300, [&](cairo_t* cr) { PillRootView{model}.draw(cr); });
    EXPECT_TRUE(live == still);

    // Halfway through a colour change, the ghost's fill lies between its two colours.
    model.setHot(PillSpot::topLeft, true);
    animator.sync(model, 1);
    const auto mixed = animator.frame(1 + 0.16 * 0.3);
    const auto midway = render(400, 300, [&](cairo_t* cr) {
        PillAnimatedView{model, mixed}.draw(cr);
    });
    const auto lit = render(400, 300, [&](cairo_t* cr) { PillRootView{model}.draw(cr); });
    const std::size_t pixel = (300 - 222) * 400 * 4 + 40 * 4; // inside the top-left ghost
    EXPECT_NE(midway[pixel + 3], still[pixel + 3]);
    EXPECT_NE(midway[pixel + 3], lit[pixel + 3]);
    EXPECT_GT(midway[pixel + 3], std::min(still[pixel + 3], lit[pixel + 3]));
    EXPECT_LT(midway[pixel + 3], std::max(still[pixel + 3], lit[pixel + 3]));
}

} // namespace
} // namespace talverin
