#include "TalverinPill/PillPanel.h"

#include "TalverinPill/PillBars.h"
#include "TalverinPill/PillTimeline.h"
#include "TalverinPill/PillWindowDriverNull.h"
#include "PillPanelWorld.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::notchedScreen;
using test::plainScreen;
using test::rect;
using Op = test::PillWindowDriverFake::Op;

class PillPanelTest : public test::PillPanelWorld {};

TEST_F(PillPanelTest, AStepOfAnEarlierListNeverAppliesAfterANewerOne) {
    panel->show(PillState::polishing());
    ASSERT_EQ(panel->stage(), PillStage::drop()) << "the pill drops in; it grows at 0.18 s";
    runTo(0.1);
    panel->hide();
    ASSERT_EQ(panel->stage(), PillStage::drop());
    // The grow step of the show was due at 0.18 s; the hide's second step at 0.32 s.
    runTo(0.3);
    EXPECT_EQ(panel->stage(), PillStage::drop());
    EXPECT_TRUE(model->layers().empty()) << "the polishing content never came";
    settle();
    EXPECT_EQ(panel->stage(), PillStage::none());
    EXPECT_FALSE(driver->isVisible());
}

TEST_F(PillPanelTest, HideOrdersTheWindowOutWhenTheLastStepHasSettled) {
    struct Case {
        const char* name;
        bool idleBar;
        PillScreen screen;
        PillSpot spot;
        bool reduceMotion;
        std::optional<double> showAgainAt; // after the hide
        std::vector<double> orderedOut;    // after the hide
    };
    const std::vector<Case> cases{
        // The second step at 0.22 s, then the collapse spring's 0.36 s and 0.05 s more.
        {"plain", false, plainScreen(), PillSpot::bottomCenter, false, std::nullopt, {0.63}},
        // On the island the last step only fades: 0.22 + 0.11 + 0.05.
        {"island", false, notchedScreen(), PillSpot::topCenter, false, std::nullopt, {0.38}},
        {"reduce motion: at once",
         false,
         plainScreen(),
         PillSpot::bottomCenter,
         true,
         std::nullopt,
         {0}},
        {"idle bar stays", true, plainScreen(), PillSpot::bottomCenter, false, std::nullopt, {}},
        {"shown again first", false, plainScreen(), PillSpot::bottomCenter, false, 0.5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver = std::make_shared<test::PillWindowDriverFake>();
        driver->screenList = {c.screen};
        driver->reduceMotionOn = c.reduceMotion;
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fonts.measure());
        panel->setSpot(c.spot, false);
        panel->setShowsIdleBar(c.idleBar);
        panel->show(PillState::inserted("Mail"));
        settle();
        ASSERT_TRUE(driver->isVisible());
        ASSERT_TRUE(driver->monitorsRunning());
        const double hiddenAt = now();
        panel->hide();
        if (c.showAgainAt) {
            runTo(hiddenAt + *c.showAgainAt);
            panel->show(PillState::copied());
        }
        settle();
        std::vector<double> out;
        for (double t : orderOutTimes())
            out.push_back(t - hiddenAt);
        ASSERT_EQ(out.size(), c.orderedOut.size());
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_NEAR(out[i], c.orderedOut[i], 1e-9);
        EXPECT_EQ(driver->isVisible(), c.orderedOut.empty());
        EXPECT_EQ(driver->monitorsRunning(), c.orderedOut.empty());
        if (!c.orderedOut.empty())
            EXPECT_TRUE(model->layers().empty());
    }
}

TEST_F(PillPanelTest, ListeningAgainUpdatesItsContentInPlaceAndKeepsFourLevels) {
    panel->show(PillState::listening("", 0.1F));
    settle();
    ASSERT_EQ(model->layers().size(), 1U);
    const auto layer = model->layers().front().id;
    ASSERT_EQ(model->levels(), std::vector<float>{0.1F});

    const std::vector<float> levels{0.2F, 0.3F, 0.4F, 0.5F, 0.6F};
    std::vector<float> expected{0.1F};
    std::string words;
    for (float level : levels) {
        words += "word ";
        panel->show(PillState::listening(words, level));
        expected = PillBars::push(level, expected);
        ASSERT_EQ(model->layers().size(), 1U);
        EXPECT_EQ(model->layers().front().id, layer);
        EXPECT_EQ(model->layers().front().kind.asFace()->text.liveText(), words);
        EXPECT_EQ(model->levels(), expected);
    }
    EXPECT_EQ(model->levels(), (std::vector<float>{0.3F, 0.4F, 0.5F, 0.6F}));
    EXPECT_TRUE(driver->announcements.empty());

    panel->show(PillState::handsFree(3, ""));
    EXPECT_TRUE(model->levels().empty());
    settle();
    EXPECT_NE(model->layers().front().id, layer);
}

TEST_F(PillPanelTest, AnOutcomeAfterListeningChangesWidthOnceAndIsAnnouncedAtOnce) {
    panel->show(PillState::listening("hello", 0.5F));
    settle();
    ASSERT_EQ(panel->stage().kind(), PillStage::Kind::pill);
    const auto delaysBefore = driver->delays.size();
    const auto layerBefore = model->nextLayer();

    panel->show(PillState::inserted("Mail"));
    EXPECT_EQ(panel->stage(), PillStage::pill(panel->face()->width));
    EXPECT_EQ(driver->delays.size(), delaysBefore) << "one step, applied at once";
    EXPECT_EQ(model->nextLayer(), layerBefore + 1);
    EXPECT_EQ(model->layers().back().kind.asFace()->kind, PillState::Kind::inserted);
    ASSERT_EQ(driver->announcements.size(), 1U);
    EXPECT_EQ(driver->announcements[0].text, *panel->face()->announcement);
    EXPECT_EQ(driver->announcements[0].priority, PillAnnouncePriority::high);
    EXPECT_TRUE(model->levels().empty());
}

TEST_F(PillPanelTest, AStateArrivingDuringTheDropStartsNoListAndTheGrowTakesIt) {
    panel->show(PillState::listening("", 0));
    ASSERT_EQ(panel->stage(), PillStage::drop());
    const auto layerBefore = model->nextLayer();
    panel->show(PillState::polishing());
    EXPECT_EQ(panel->stage(), PillStage::drop());
    EXPECT_EQ(model->nextLayer(), layerBefore) << "no change step in the drop stage";
    settle();
    EXPECT_EQ(panel->stage(), PillStage::pill(panel->face()->width));
    ASSERT_EQ(model->layers().size(), 1U);
    EXPECT_EQ(model->layers().back().kind.asFace()->kind, PillState::Kind::polishing);
}

TEST_F(PillPanelTest, TheScreenComesFromTheFrameThePointerOrTheStandBy) {
    const PillScreen left = plainScreen();
    PillScreen right{9, rect(1920, 0, 1280, 800), rect(1920, 0, 1280, 780), std::nullopt};
    const Rect standBy = rect(0, 0, 1440, 900);
    struct Case {
        const char* name;
        std::vector<PillScreen> screens;
        Point pointer;
        std::optional<Rect> frame;
        PillScreen expected;
    };
    const std::vector<Case> cases{
        {"no screens at all", {}, {5, 5}, std::nullopt, {0, standBy, standBy, std::nullopt}},
        {"under the pointer", {left, right}, {2000, 100}, std::nullopt, right},
        {"pointer off every screen", {left, right}, {-500, -500}, std::nullopt, left},
        {"the frame given", {left, right}, {5, 5}, right.visibleFrame, right},
        {"a frame overlapping most", {left, right}, {5, 5}, rect(1800, 10, 400, 400), right},
        {"a frame on no screen",
         {left},
         {5, 5},
         rect(5000, 0, 800, 600),
         {0, rect(5000, 0, 800, 600), rect(5000, 0, 800, 600), std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver = std::make_shared<test::PillWindowDriverFake>();
        driver->screenList = c.screens;
        driver->pointer = c.pointer;
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fonts.measure());
        panel->show(PillState::polishing(), c.frame);
        settle();
        ASSERT_TRUE(panel->screen());
        EXPECT_EQ(*panel->screen(), c.expected);
        EXPECT_EQ(driver->frame(), PillGeometry::homeBox(PillSpot::bottomCenter, c.expected));
    }
}

TEST_F(PillPanelTest, AVisiblePillKeepsItsScreenUnlessAFrameMovesIt) {
    PillScreen right{9, rect(1920, 0, 1280, 800), rect(1920, 0, 1280, 780), std::nullopt};
    driver->screenList = {plainScreen(), right};
    panel->show(PillState::listening("", 0));
    settle();
    driver->pointer = {2000, 100};
    panel->show(PillState::polishing());
    EXPECT_EQ(panel->screen()->id, plainScreen().id);
    panel->show(PillState::copied(), right.visibleFrame);
    EXPECT_EQ(panel->screen()->id, right.id);
    EXPECT_EQ(driver->frame(), PillGeometry::homeBox(PillSpot::bottomCenter, right));
}

TEST_F(PillPanelTest, AMonitorThatGoesAndComesBackTakesThePillBack) {
    const PillScreen left = plainScreen();
    const PillScreen right{9, rect(1920, 0, 1280, 800), rect(1920, 0, 1280, 780), std::nullopt};
    // With the idle bar the window stays on screen between dictations, so the pill keeps its
    // screen instead of following the pointer.
    for (const bool idleBar : {false, true}) {
        SCOPED_TRACE(idleBar ? "with the idle bar" : "without the idle bar");
        driver = std::make_shared<test::PillWindowDriverFake>();
        driver->screenList = {left, right};
        driver->pointer = {2000, 100};
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fonts.measure());
        panel->setShowsIdleBar(idleBar);
        panel->show(PillState::listening("", 0));
        settle();
        ASSERT_EQ(panel->screen()->id, right.id);

        // The right-hand monitor goes while the pill shows on it; the server keeps the pointer
        // on the one that is left, and the pill moves there.
        driver->pointer = {1919, 100};
        driver->changeScreens({left});
        EXPECT_EQ(panel->screen()->id, left.id);
        EXPECT_EQ(driver->frame(), PillGeometry::homeBox(PillSpot::bottomCenter, left));
        // It comes back while the pill still shows, and the pill goes back with it.
        driver->changeScreens({left, right});
        EXPECT_EQ(panel->screen()->id, right.id);
        EXPECT_EQ(driver->frame(), PillGeometry::homeBox(PillSpot::bottomCenter, right));
        panel->hide();
        settle();
        ASSERT_EQ(driver->isVisible(), idleBar);

        // The next dictations start with the pointer on the monitor that came back.
        driver->pointer = {2500, 400};
        for (int dictation = 0; dictation < 2; ++dictation) {
            SCOPED_TRACE(dictation);
            panel->show(PillState::listening("", 0));
            settle();
            EXPECT_EQ(panel->screen()->id, right.id);
            EXPECT_EQ(driver->frame(), PillGeometry::homeBox(PillSpot::bottomCenter, right));
            EXPECT_EQ(model->window(), driver->frame());
            panel->hide();
            settle();
        }
    }
}

TEST_F(PillPanelTest, AMonitorComingBackAfterADictationChoseAnotherScreenLeavesThePill) {
    const PillScreen left = plainScreen();
    const PillScreen right{9, rect(1920, 0, 1280, 800), rect(1920, 0, 1280, 780), std::nullopt};
    driver->screenList = {left, right};
    driver->pointer = {2000, 100};
    panel->setShowsIdleBar(true);
    panel->show(PillState::listening("", 0));
    settle();
    driver->changeScreens({left});
    // A dictation in a window on the left-hand monitor puts the pill there on purpose.
    panel->show(PillState::polishing(), left.visibleFrame);
    settle();
    driver->changeScreens({left, right});
    EXPECT_EQ(panel->screen()->id, left.id);
}

TEST_F(PillPanelTest, ScreenFrameForAWindowIsTheScreenHoldingMostOfIt) {
    PillScreen right{9, rect(1920, 0, 1280, 800), rect(1920, 0, 1280, 780), std::nullopt};
    driver->screenList = {plainScreen(), right};
    struct Case {
        const char* name;
        Rect window;
        std::optional<Rect> expected;
    };
    const std::vector<Case> cases{
        {"mostly right", rect(1800, 100, 600, 300), right.visibleFrame},
        {"mostly left", rect(1500, 100, 600, 300), plainScreen().visibleFrame},
        {"zero width", rect(100, 100, 0, 300), std::nullopt},
        {"zero height", rect(100, 100, 300, 0), std::nullopt},
        {"off every screen", rect(-900, -900, 100, 100), std::nullopt},
    };
    const auto lookup = panel->screenFrameLookup();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(panel->screenFrame(c.window), c.expected);
        EXPECT_EQ(lookup(c.window), c.expected);
    }
    panel.reset();
    EXPECT_EQ(lookup(rect(1800, 100, 600, 300)), std::nullopt);
}

TEST_F(PillPanelTest, TheIdleBarSettingActsByStage) {
    // Each row sets up a stage, then turns the setting; the pill ends in `ends`.
    enum class Before { nothing, bar, stateShown, hidingThroughDrop };
    struct Case {
        const char* name;
        Before before;
        bool turnOn;
        PillStage ends;
        bool visible;
    };
    const std::vector<Case> cases{
        {"on with nothing shown: the bar comes", Before::nothing, true, PillStage::bar(), true},
        {"off: the bar and the window go", Before::bar, false, PillStage::none(), false},
        {"a state shown stays", Before::stateShown, true, PillStage::pill(0), true},
        {"off during a hide's drop: nothing", Before::hidingThroughDrop, false, PillStage::none(),
         false},
        {"on during a hide's drop: the bar", Before::hidingThroughDrop, true, PillStage::bar(),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver = std::make_shared<test::PillWindowDriverFake>();
        driver->screenList = {plainScreen()};
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fonts.measure());
        panel->setShowsIdleBar(!c.turnOn);
        if (c.before != Before::nothing && c.before != Before::bar)
            panel->show(PillState::polishing());
        settle();
        if (c.before == Before::hidingThroughDrop) {
            panel->hide();
            ASSERT_EQ(panel->stage(), PillStage::drop());
        }
        panel->setShowsIdleBar(c.turnOn);
        settle();
        if (c.ends.kind() == PillStage::Kind::pill)
            EXPECT_EQ(panel->stage(), PillStage::pill(panel->face()->width));
        else
            EXPECT_EQ(panel->stage(), c.ends);
        EXPECT_EQ(driver->isVisible(), c.visible);
    }
}

TEST_F(PillPanelTest, AnAnimatedMoveAfterAHideStillLetsTheWindowGo) {
    struct Case {
        const char* name;
        // When the displays change after the move began; none for no change.
        std::optional<double> screensChangeAfter;
        // When the window leaves, after the move began.
        double orderOutAfter;
    };
    const std::vector<Case> cases{
        {"at the snap's end", std::nullopt, 0.48},
        {"when the displays change before the snap ends", 0.4, 0.4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver = std::make_shared<test::PillWindowDriverFake>();
        driver->screenList = {plainScreen()};
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fonts.measure());
        panel->show(PillState::inserted("Mail"));
        settle();
        const double hiddenAt = now();
        panel->hide();
        // The snap holds the overlay up past the hide's own order-out at 0.63 s.
        runTo(hiddenAt + 0.3);
        panel->setSpot(PillSpot::bottomLeft, true);
        ASSERT_TRUE(panel->isOverlay());
        if (c.screensChangeAfter) {
            runTo(hiddenAt + 0.3 + *c.screensChangeAfter);
            ASSERT_TRUE(panel->isSnapping());
            PillScreen wider = plainScreen();
            wider.frame = rect(0, 0, 2560, 1440);
            wider.visibleFrame = rect(0, 0, 2560, 1410);
            driver->changeScreens({wider});
        }
        settle();
        EXPECT_FALSE(panel->isOverlay());
        EXPECT_FALSE(driver->isVisible());
        EXPECT_FALSE(driver->monitorsRunning()) << "every pointer motion would wake us";
        ASSERT_EQ(orderOutTimes().size(), 1U);
        EXPECT_NEAR(orderOutTimes()[0] - hiddenAt, 0.3 + c.orderOutAfter, 1e-9);
    }
}

TEST_F(PillPanelTest, SetSpotMovesAtOnceUnlessAnimatedWithMotion) {
    panel->setSpot(PillSpot::bottomCenter, true);
    EXPECT_TRUE(driver->ops.empty()) << "the current spot: nothing";

    panel->show(PillState::polishing());
    settle();
    struct Case {
        const char* name;
        bool animated;
        bool reduceMotion;
        PillSpot to;
        bool snaps;
    };
    const std::vector<Case> cases{
        {"animated", true, false, PillSpot::topRight, true},
        {"animated under reduce motion", true, true, PillSpot::bottomLeft, false},
        {"not animated", false, false, PillSpot::middleLeft, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver->reduceMotionOn = c.reduceMotion;
        panel->setSpot(c.to, c.animated);
        EXPECT_EQ(panel->spot(), c.to);
        EXPECT_EQ(panel->isSnapping(), c.snaps);
        EXPECT_EQ(panel->isOverlay(), c.snaps);
        EXPECT_EQ(driver->frame(),
                  c.snaps ? screen().frame : PillGeometry::homeBox(c.to, screen()));
        settle();
        EXPECT_EQ(driver->frame(), PillGeometry::homeBox(c.to, screen()));
        EXPECT_EQ(model->shape().look.size, targetFrame(panel->stage(), c.to).size);
    }
}

TEST_F(PillPanelTest, TheScreenChangeDropsARunningSnapAndPlacesThePillAnew) {
    panel->show(PillState::polishing());
    settle();
    panel->setSpot(PillSpot::topLeft, true);
    ASSERT_TRUE(panel->isSnapping());
    PillScreen moved = plainScreen();
    moved.frame = rect(0, 0, 2560, 1440);
    moved.visibleFrame = rect(0, 0, 2560, 1410);
    driver->changeScreens({moved});
    EXPECT_FALSE(panel->isSnapping());
    EXPECT_FALSE(panel->isOverlay());
    EXPECT_EQ(*panel->screen(), moved);
    EXPECT_EQ(driver->frame(), PillGeometry::homeBox(PillSpot::topLeft, moved));
    EXPECT_EQ(model->shape().centre, centreOf(panel->stage(), PillSpot::topLeft));
    const auto opsBefore = driver->ops.size();
    settle();
    EXPECT_EQ(driver->ops.size(), opsBefore) << "the old snap's end does nothing";

    // The display goes away: the pointer's screen takes over.
    driver->pointer = {100, 100};
    driver->changeScreens({});
    EXPECT_EQ(panel->screen()->frame, rect(0, 0, 1440, 900));
}

TEST_F(PillPanelTest, AScreenChangeUnderTheHoverFormRefreshesItsContent) {
    // The display the pill hovers on turns out to have a camera housing: the microphone
    // button gives way to the island's hint.
    panel->setSpot(PillSpot::topCenter, false);
    panel->setShowsIdleBar(true);
    settle();
    driver->moveTo(centreOf(PillStage::bar(), PillSpot::topCenter));
    settle();
    ASSERT_EQ(panel->stage(), PillStage::hover());
    ASSERT_TRUE(model->layers().back().kind.asMic());

    PillScreen housed = notchedScreen();
    housed.id = plainScreen().id;
    driver->changeScreens({housed});
    EXPECT_EQ(*panel->screen(), housed);
    ASSERT_TRUE(model->layers().back().kind.asHover());
    EXPECT_EQ(model->layers().back().delay, PillTimeline::hoverContentDelay);
    EXPECT_EQ(driver->frame(), PillGeometry::homeBox(PillSpot::topCenter, housed));
    EXPECT_EQ(model->shape().look.size, targetFrame(PillStage::hover(), PillSpot::topCenter).size);
}

TEST_F(PillPanelTest, TheHoldKeyRenamesTheHintAndResizesIt) {
    fonts.widths["F13"] = 200;
    const double before = panel->hoverWidth();
    panel->setHoldKey(HoldKey::f13);
    EXPECT_GT(panel->hoverWidth(), before);
    EXPECT_EQ(static_cast<int>(panel->hoverWidth()) % 2, 0);
    EXPECT_GT(panel->bubbleWidth(), 200);
}

TEST_F(PillPanelTest, NothingRunsOnAPanelThatIsGone) {
    panel->show(PillState::polishing());
    panel->setShowsIdleBar(true);
    runTo(0.01);
    panel->hide();
    ASSERT_GT(world.pending(), 0U);
    panel.reset();
    settle(); // the sanitizer fails the test if a delayed step touches the old panel
    EXPECT_FALSE(driver->mouse(PillMouseEvent::down({5, 5})));
    driver->changeScreens({});
}

TEST(PillWindowDriverNull, KeepsThePanelsBookkeepingWithoutADisplay) {
    VirtualWorld world;
    auto driver = std::make_shared<PillWindowDriverNull>();
    EXPECT_EQ(driver->reason(), "no display");
    test::PillMeasureFake fonts;
    PillPanel panel(std::make_shared<PillModel>(), driver, PillLang::en, fonts.measure());
    panel.show(PillState::polishing());
    world.runUntilIdle();
    EXPECT_TRUE(driver->isVisible());
    EXPECT_EQ(panel.screen()->frame, rect(0, 0, 1440, 900));
    panel.hide();
    world.runUntilIdle();
    EXPECT_FALSE(driver->isVisible());
}

} // namespace
} // namespace talverin
