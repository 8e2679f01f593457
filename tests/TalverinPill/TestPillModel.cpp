#include "TalverinPill/PillModel.h"

#include "TalverinPill/PillColor.h"
#include "fakes/PillMeasureFake.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Kind = PillContentLayer::Kind;
using Entry = PillModel::LogEntry;

Rect rect(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}

PillFace faceOf(const PillState& state) {
    test::PillMeasureFake fonts;
    return *PillFace::make(state, PillLang::en, std::nullopt, fonts.measure());
}

// Counts the observer's calls.
struct Watched {
    PillModel model;
    int changes = 0;
    Watched() {
        model.onWillChange = [this] { ++changes; };
    }
};

std::vector<std::int64_t> ids(const PillModel& model) {
    std::vector<std::int64_t> result;
    for (const auto& layer : model.layers())
        result.push_back(layer.id);
    return result;
}

TEST(PillModel, StartsHiddenAndEmpty) {
    const PillModel model;
    EXPECT_EQ(model.shape(), PillShapeState{});
    EXPECT_EQ(model.shape().look, (PillLook{{44, 44}, 22, 22, 0}));
    EXPECT_EQ(model.shape().opacity, 0);
    EXPECT_EQ(model.shape().scale, 0.6);
    EXPECT_EQ(model.shape().grab, (Point{0.5, 0.5}));
    EXPECT_EQ(model.window(), Rect{});
    EXPECT_EQ(model.align(), PillContentAlign::center());
    EXPECT_TRUE(model.layers().empty());
    EXPECT_EQ(model.hot(), std::nullopt);
    EXPECT_EQ(model.bubble(), std::nullopt);
    EXPECT_FALSE(model.ghostsVisible() || model.bubbleVisible() || model.micHot());
    EXPECT_TRUE(model.log().empty());
    EXPECT_EQ(model.nextLayer(), 0);
}

// Each operation with what it stores and logs when it changes something.
struct Operation {
    const char* name;
    std::function<void(PillModel&)> run;
    std::function<std::optional<PillAnim>(const PillModel&)> stored;
    std::vector<Entry> logged;
};

std::vector<Operation> animatedOperations() {
    const auto spring = PillAnim::spring(PillMetrics::morph);
    const auto fadeIn = PillAnim::fade(PillFade::fadeIn, 0);
    const PillShapeTarget target{rect(10, 20, 200, 44), 22, 22, false};
    return {
        {"move",
         [=](PillModel& m) { m.move(target, spring); },
         [](const PillModel& m) { return m.shape().moveAnim; },
         {{"shape", spring}}},
        {"move's look",
         [=](PillModel& m) { m.move(target, spring); },
         [](const PillModel& m) { return m.shape().lookAnim; },
         {{"shape", spring}}},
        {"opacity",
         [=](PillModel& m) { m.setOpacity(1, fadeIn); },
         [](const PillModel& m) { return m.shape().opacityAnim; },
         {{"opacity", fadeIn}}},
        {"scale",
         [=](PillModel& m) { m.setScale(1, spring); },
         [](const PillModel& m) { return m.shape().scaleAnim; },
         {{"scale", spring}}},
        {"lift",
         [=](PillModel& m) { m.setLift(1, spring); },
         [](const PillModel& m) { return m.shape().liftAnim; },
         {{"lift", spring}}},
        {"hot",
         [](PillModel& m) { m.setHot(PillSpot::topLeft, true); },
         [](const PillModel& m) { return m.hotAnim(); },
         {{"hot", PillAnim::colour()}}},
        {"mic",
         [](PillModel& m) { m.setMicHot(true, true); },
         [](const PillModel& m) { return m.micAnim(); },
         {{"mic", PillAnim::colour()}}},
        {"ghosts",
         [](PillModel& m) { m.showGhosts(true); },
         [](const PillModel& m) { return m.ghostsAnim(); },
         {{"ghostsVisible", fadeIn}}},
        {"bubble",
         [](PillModel& m) { m.showBubble(true); },
         [](const PillModel& m) { return m.bubbleAnim(); },
         {{"bubble", PillAnim::fade(PillFade::fadeIn, 0.08)}}},
    };
}

TEST(PillModel, EachChangeStoresItsAnimationUnlessMotionIsReduced) {
    for (bool reduce : {false, true}) {
        for (const Operation& op : animatedOperations()) {
            SCOPED_TRACE(std::string(op.name) + (reduce ? ", reduce motion" : ""));
            Watched watched;
            watched.model.setReduceMotion(reduce);
            watched.changes = 0;
            op.run(watched.model);
            EXPECT_GE(watched.changes, 1);
            EXPECT_EQ(op.stored(watched.model), reduce ? std::nullopt : op.logged.front().anim);
            EXPECT_EQ(watched.model.log(), op.logged) << "the log keeps the request";
        }
    }
}

TEST(PillModel, HidingFadesOutAtOnceAndAnUnanimatedChangeStoresNothing) {
    PillModel model;
    model.showBubble(true);
    model.showBubble(false);
    EXPECT_EQ(model.bubbleAnim(), PillAnim::fade(PillFade::fadeOut, 0));
    model.showGhosts(true);
    model.showGhosts(false);
    EXPECT_EQ(model.ghostsAnim(), PillAnim::fade(PillFade::fadeOut, 0));
    model.setHot(PillSpot::bottomLeft, true);
    model.setHot(PillSpot::bottomRight, false);
    EXPECT_EQ(model.hotAnim(), std::nullopt);
    EXPECT_EQ(model.hot(), PillSpot::bottomRight);
    model.setOpacity(1, PillAnim::fade(PillFade::fadeIn, 0));
    model.setOpacity(0.5, std::nullopt);
    EXPECT_EQ(model.shape().opacityAnim, std::nullopt);
}

TEST(PillModel, AnOperationWithNothingToChangeNeitherWritesNorLogs) {
    const auto face = faceOf(PillState::listening("one", 0));
    const PillBubble bubble{rect(0, 0, 90, 36), "Hold", "fn", {0, -6}};
    const std::vector<std::pair<const char*, std::function<void(PillModel&)>>> noOps = {
        {"absent hot spot, animated", [](PillModel& m) { m.setHot(std::nullopt, true); }},
        {"mic not hot", [](PillModel& m) { m.setMicHot(false, true); }},
        {"same opacity", [](PillModel& m) { m.setOpacity(0, PillAnim::colour()); }},
        {"same scale", [](PillModel& m) { m.setScale(0.6, PillAnim::colour()); }},
        {"same lift", [](PillModel& m) { m.setLift(0, PillAnim::colour()); }},
        {"same grab",
         [](PillModel& m) {
             m.setGrab({0.5, 0.5});
         }},
        {"grab already settled", [](PillModel& m) { m.settleGrab(); }},
        {"same align", [](PillModel& m) { m.setAlign(PillContentAlign::center()); }},
        {"ghosts already hidden", [](PillModel& m) { m.showGhosts(false); }},
        {"bubble already hidden", [](PillModel& m) { m.showBubble(false); }},
        {"no content to clear", [](PillModel& m) { m.clearContent(); }},
        {"no layer with that key", [=](PillModel& m) { m.updateContent(face); }},
        {"no hover layer", [](PillModel& m) { m.updateHover("Hold", "fn", 204); }},
    };
    for (const auto& [name, run] : noOps) {
        SCOPED_TRACE(name);
        Watched watched;
        run(watched.model);
        EXPECT_EQ(watched.changes, 0);
        EXPECT_TRUE(watched.model.log().empty());
    }

    Watched watched;
    watched.model.setBubble(bubble);
    watched.model.startContent(Kind::state(face), 0);
    watched.model.setHot(PillSpot::topLeft, false);
    const auto logged = watched.model.log();
    watched.changes = 0;
    watched.model.setBubble(bubble);
    watched.model.updateContent(face);
    watched.model.setHot(PillSpot::topLeft, true);
    EXPECT_EQ(watched.changes, 0);
    EXPECT_EQ(watched.model.log(), logged);
}

TEST(PillModel, ObserversHearOfAChangeBeforeIt) {
    PillModel model;
    std::vector<double> seen;
    model.onWillChange = [&] { seen.push_back(model.shape().opacity); };
    model.setOpacity(1, std::nullopt);
    model.setOpacity(0.25, std::nullopt);
    EXPECT_EQ(seen, (std::vector<double>{0, 1}));
}

TEST(PillModel, TheLogKeepsTheLatestEightyRequests) {
    PillModel model;
    // Request i carries a fade delayed by i seconds, so every entry can be told apart.
    auto request = [](int i) { return PillAnim::fade(PillFade::fadeIn, i); };
    for (int i = 1; i <= 80; ++i)
        model.setOpacity(i, request(i));
    ASSERT_EQ(model.log().size(), 80u);
    EXPECT_EQ(model.log().front(), (Entry{"opacity", request(1)}));
    model.setOpacity(81, request(81));
    ASSERT_EQ(model.log().size(), 80u);
    EXPECT_EQ(model.log().front(), (Entry{"opacity", request(2)}));
    EXPECT_EQ(model.log().back(), (Entry{"opacity", request(81)}));
    model.setReduceMotion(true);
    model.setScale(1, PillAnim::colour());
    ASSERT_EQ(model.log().size(), 80u);
    EXPECT_EQ(model.log().front(), (Entry{"opacity", request(3)}));
    EXPECT_EQ(model.log().back(), (Entry{"scale", PillAnim::colour()}));
}

TEST(PillModel, MovePlacesTheGrabPointAndTakesTheTargetsLook) {
    PillModel model;
    const PillShapeTarget island{rect(606, 917, 300, 65), 0, 16, true};
    const PillShapeTarget capsule{rect(100, 50, 64, 44), 22, 22, false};
    model.move(island, std::nullopt);
    EXPECT_EQ(model.shape().centre, (Point{756, 949.5}));
    EXPECT_EQ(model.shape().look, (PillLook{{300, 65}, 0, 16, 1}));
    model.setGrab({0, 0});
    model.move(capsule, std::nullopt);
    EXPECT_EQ(model.shape().centre, (Point{100, 50}));
    EXPECT_EQ(model.shape().look, (PillLook{{64, 44}, 22, 22, 0}));

    // Moving to where it already is still writes and logs.
    Watched watched;
    watched.model.move(capsule, std::nullopt);
    watched.model.move(capsule, std::nullopt);
    EXPECT_EQ(watched.changes, 2);
    EXPECT_EQ(watched.model.log(),
              (std::vector<Entry>{{"shape", std::nullopt}, {"shape", std::nullopt}}));
}

TEST(PillModel, SettlingTheGrabLeavesTheShapeWhereItIs) {
    PillModel model;
    model.move({rect(450, 280, 100, 40), 20, 20, false}, std::nullopt);
    ASSERT_EQ(model.shape().centre, (Point{500, 300}));
    model.setGrab({0.2, 0.8});
    EXPECT_EQ(model.shape().centre, (Point{500, 300})) << "the centre stays, the frame moves";
    model.setOpacity(1, PillAnim::fade(PillFade::fadeIn, 0));
    model.settleGrab();
    EXPECT_EQ(model.shape().grab, (Point{0.5, 0.5}));
    EXPECT_EQ(model.shape().centre, (Point{530, 288}));
    EXPECT_EQ(model.shape().moveAnim, std::nullopt);
    const std::vector<Entry> tail(model.log().end() - 2, model.log().end());
    EXPECT_EQ(tail, (std::vector<Entry>{{"grab", std::nullopt}, {"centre", std::nullopt}}));
}

TEST(PillModel, LayerIdsGrowOnlyForNewContent) {
    PillModel model;
    const auto listening = faceOf(PillState::listening("one", 0));
    const auto listeningMore = faceOf(PillState::listening("one two", 0));
    const auto polishing = faceOf(PillState::polishing());

    model.showRest(Kind::state(listening), 0.22);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{1}) << "the first layer ever is 1";
    model.showRest(Kind::state(listeningMore), 0.5);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{1}) << "same key: in place";
    EXPECT_EQ(model.layers()[0].kind, Kind::state(listeningMore));
    EXPECT_EQ(model.layers()[0].delay, 0.22) << "the delay stays too";
    EXPECT_EQ(model.log().back(), (Entry{"payload", std::nullopt}));
    const auto logSize = model.log().size();
    model.showRest(Kind::state(listeningMore), 0);
    EXPECT_EQ(model.log().size(), logSize) << "the same kind again: nothing";

    model.showRest(Kind::state(polishing), 0.06);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{2});
    EXPECT_EQ(model.log().back(), (Entry{"content", PillAnim::fade(PillFade::fadeIn, 0.06)}));

    // Hover hints change in place; a microphone button is other content.
    model.showRest(Kind::hover("Hold", "fn", 204), 0.04);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{3});
    model.showRest(Kind::hover("Держите", "fn", 210), 0);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{3});
    EXPECT_EQ(model.layers()[0].kind, Kind::hover("Держите", "fn", 210));
    model.updateHover("Hold", "F13", 220);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{3});
    EXPECT_EQ(model.layers()[0].kind, Kind::hover("Hold", "F13", 220));
    EXPECT_EQ(model.layers()[0].delay, 0.04);
    model.showRest(Kind::mic("Hands-free dictation", false), 0);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{4});
    model.showRest(Kind::mic("Hands-free dictation", true), 0);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{4});
    model.showRest(Kind::hover("Hold", "fn", 204), 0);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{5});

    // New content always gets a new id, even the same content.
    model.startContent(Kind::state(listening), 0.22);
    model.startContent(Kind::state(listening), 0.22);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{7});
    model.clearContent();
    EXPECT_TRUE(model.layers().empty());
    EXPECT_EQ(model.log().back(), (Entry{"content", PillAnim::fade(PillFade::fadeOut, 0)}));
    model.startContent(Kind::state(polishing), 0);
    EXPECT_EQ(ids(model), std::vector<std::int64_t>{8});
    EXPECT_EQ(model.nextLayer(), 8);
}

TEST(PillModel, UpdateContentChangesTheNewestLayerOfThatKeyInPlace) {
    PillModel model;
    const auto handsFree = faceOf(PillState::handsFree(1, "one"));
    const auto ticked = faceOf(PillState::handsFree(2, "one"));
    model.startContent(Kind::state(handsFree), 0.22);
    model.updateContent(ticked);
    ASSERT_EQ(model.layers().size(), 1u);
    EXPECT_EQ(model.layers()[0], (PillContentLayer{1, Kind::state(ticked), 0.22}));
    EXPECT_EQ(model.log().back(), (Entry{"payload", std::nullopt}));
    // Another key is not this content: nothing happens.
    model.updateContent(faceOf(PillState::listening("one", 0)));
    EXPECT_EQ(model.layers()[0].kind, Kind::state(ticked));
}

TEST(PillModel, DirectWritesAreObserved) {
    Watched watched;
    watched.model.setWindow(rect(1, 2, 3, 4));
    watched.model.setLevels({0.5f});
    watched.model.setGhosts({{PillSpot::topLeft, {}}});
    watched.model.setReduceMotion(true);
    EXPECT_EQ(watched.changes, 4);
    EXPECT_EQ(watched.model.window(), rect(1, 2, 3, 4));
    EXPECT_EQ(watched.model.levels(), std::vector<float>{0.5f});
    EXPECT_EQ(watched.model.ghosts().size(), 1u);
    EXPECT_TRUE(watched.model.reduceMotion());
}

TEST(PillAnim, AnimationsForTheViews) {
    const auto spring = PillAnim::spring(PillMetrics::drop).animation();
    EXPECT_EQ(spring.type, PillAnim::Animation::Type::spring);
    EXPECT_EQ(spring.spring, PillMetrics::drop);
    EXPECT_EQ(spring.blendDuration, 0);

    const auto fade = PillAnim::fade(PillFade::fadeOut, 0.08).animation();
    EXPECT_EQ(fade.type, PillAnim::Animation::Type::curve);
    EXPECT_EQ(fade.duration, 0.11);
    EXPECT_EQ(fade.delay, 0.08);
    EXPECT_EQ(fade.curve.x1, 0.23);
    EXPECT_EQ(fade.curve.x2, 0.32);
    EXPECT_EQ(PillAnim::fade(PillFade::fadeIn, 0).animation().duration, 0.14);

    const auto colour = PillAnim::colour().animation();
    EXPECT_EQ(colour.duration, 0.16);
    EXPECT_EQ(colour.delay, 0);
    EXPECT_EQ(colour.curve.x1, 0.2);
    EXPECT_EQ(colour.curve.y1, 0.8);
}

TEST(PillColor, OverlayColoursComeFromTheDarkPalette) {
    auto near = [](ThemeTokens::RGBA c, double r, double g, double b, double a) {
        return std::abs(c.r - r) < 5e-5 && std::abs(c.g - g) < 5e-5 && std::abs(c.b - b) < 5e-5 &&
               std::abs(c.a - a) < 1e-12;
    };
    EXPECT_TRUE(near(PillColor::hint(), 0.8706, 0.8627, 0.9255, 1));
    EXPECT_TRUE(near(PillColor::island(), 0, 0, 0, 1));
    EXPECT_TRUE(near(PillColor::ghostLine(), 0.0549, 0.0549, 0.0784, 0.42));
    EXPECT_TRUE(near(PillColor::ghostFill(), 0.9529, 0.9490, 0.9804, 0.18));
    EXPECT_TRUE(near(PillColor::ghostHotLine(), 0.4157, 0.3412, 0.9412, 1));
    EXPECT_TRUE(near(PillColor::ghostHotFill(), 0.4157, 0.3412, 0.9412, 0.26));
    EXPECT_TRUE(near(PillColor::white(), 1, 1, 1, 1));
    EXPECT_TRUE(near(PillColor::micDisc(), 1, 1, 1, 0.08));
    EXPECT_TRUE(near(PillColor::micHot(), 0.4157, 0.3412, 0.9412, 1));
}

} // namespace
} // namespace talverin
