#include "TalverinPill/PillPanel.h"

#include "TalverinPill/PillMenu.h"
#include "PillPanelWorld.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace talverin {
namespace {

using test::notchedScreen;
using test::plainScreen;
using Op = test::PillWindowDriverFake::Op;

Point plus(Point p, double dx, double dy) {
    return {p.x + dx, p.y + dy};
}

// Records what the panel tells its caller.
class PillPanelPointerTest : public test::PillPanelWorld {
protected:
    int clicks = 0;
    std::vector<bool> dragChanges;
    std::vector<PillSpot> spotChanges;
    std::vector<PillMenuAction> menuChoices;

    void SetUp() override {
        PillPanelWorld::SetUp();
        listen();
    }
    void listen() {
        panel->onClick = [this] { ++clicks; };
        panel->onDragChanged = [this](bool dragging) { dragChanges.push_back(dragging); };
        panel->onSpotChanged = [this](PillSpot spot) { spotChanges.push_back(spot); };
        panel->onMenu = [this](const PillMenuAction& action) { menuChoices.push_back(action); };
    }

    // The shape's frame: `centre` places the grab point, which is not the middle while lifted.
    Rect shapeFrame() const {
        const PillShapeState& shape = model->shape();
        const Size size = shape.look.size;
        return {{shape.centre.x - shape.grab.x * size.width,
                 shape.centre.y - shape.grab.y * size.height},
                size};
    }
    Point barCentre() const { return centreOf(PillStage::bar(), panel->spot()); }
    Point ghostCentre(PillSpot spot) const { return centreOf(PillStage::hover(), spot); }
    // Presses on the bar and moves far enough to lift the pill.
    Point lift() {
        const Point start = barCentre();
        EXPECT_TRUE(driver->mouse(PillMouseEvent::down(start)));
        EXPECT_TRUE(driver->mouse(PillMouseEvent::dragged(plus(start, 5, 0))));
        EXPECT_TRUE(panel->isDragging());
        return start;
    }
    // Where the pointer goes so that the lifted pill's centre sits on a spot's drop target.
    Point pointerOver(Point start, PillSpot spot) const {
        const Point from = ghostCentre(PillSpot::bottomCenter);
        const Point to = ghostCentre(spot);
        return plus(start, to.x - from.x, to.y - from.y);
    }
};

TEST_F(PillPanelPointerTest, APressClicksUntilItMovesThreePointsAndOnlyThenMayDrag) {
    struct Case {
        double distance;
        bool dragEnabled;
        bool clicks;
        bool drags;
    };
    const std::vector<Case> cases{
        {0, true, true, false},   {2.9, true, true, false},  {3, true, false, true},
        {3, false, false, false}, {40, false, false, false},
    };
    restOnIdleBar();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.distance << " points, dragging " << (c.dragEnabled ? "on" : "off"));
        panel->setDragEnabled(c.dragEnabled);
        clicks = 0;
        dragChanges.clear();
        const Point start = barCentre();
        const Point end = plus(start, c.distance, 0);
        EXPECT_TRUE(driver->mouse(PillMouseEvent::down(start)));
        EXPECT_FALSE(driver->ignoresMouse()) << "a press takes the mouse";
        EXPECT_TRUE(driver->mouse(PillMouseEvent::dragged(end)));
        EXPECT_EQ(panel->isDragging(), c.drags);
        EXPECT_TRUE(driver->mouse(PillMouseEvent::up(end)));
        EXPECT_EQ(clicks, c.clicks ? 1 : 0);
        EXPECT_EQ(dragChanges, c.drags ? (std::vector<bool>{true, false}) : std::vector<bool>{});
        EXPECT_FALSE(panel->isDragging());
        settle();
    }
}

TEST_F(PillPanelPointerTest, TheHoverFormGrowsAfterTheDwellAndCollapsesAfterTheGrace) {
    restOnIdleBar();
    const Point on = barCentre();
    const Point away = plus(on, 0, 300);

    // Resting for less than the dwell grows nothing.
    driver->moveTo(on);
    runTo(now() + 0.1);
    driver->moveTo(away);
    settle();
    EXPECT_FALSE(panel->isHovering());
    EXPECT_EQ(panel->stage(), PillStage::bar());

    // Staying grows it after 0.12 s.
    const double entered = now();
    driver->moveTo(on);
    runTo(entered + 0.119);
    EXPECT_EQ(panel->stage(), PillStage::bar());
    runTo(entered + 0.121);
    EXPECT_TRUE(panel->isHovering());
    EXPECT_EQ(panel->stage(), PillStage::hover());
    EXPECT_TRUE(model->layers().back().kind.asMic());

    // Coming back within the grace keeps it.
    driver->moveTo(away);
    runTo(now() + 0.19);
    driver->moveTo(on);
    settle();
    EXPECT_TRUE(panel->isHovering());
    EXPECT_EQ(panel->stage(), PillStage::hover());

    // Staying away for 0.2 s collapses it.
    const double left = now();
    driver->moveTo(away);
    runTo(left + 0.199);
    EXPECT_EQ(panel->stage(), PillStage::hover());
    runTo(left + 0.201);
    EXPECT_FALSE(panel->isHovering());
    EXPECT_EQ(panel->stage(), PillStage::bar());
}

TEST_F(PillPanelPointerTest, TheWindowTakesTheMouseOnlyOverThePillAndWritesTheFlagOnChange) {
    restOnIdleBar();
    const auto writes = [&] { return driver->count(Op::Kind::setIgnoresMouse); };
    const auto before = writes();
    for (double dx : {-400.0, -200.0, 200.0, 400.0})
        driver->moveTo(plus(barCentre(), dx, 0));
    EXPECT_TRUE(driver->ignoresMouse());
    EXPECT_EQ(writes(), before);

    driver->moveTo(barCentre());
    EXPECT_FALSE(driver->ignoresMouse());
    driver->moveTo(plus(barCentre(), 3, 1));
    settle(); // the hover form grows around the pointer
    EXPECT_TRUE(panel->isHovering());
    EXPECT_EQ(writes(), before + 1);

    driver->moveTo(plus(barCentre(), 0, 300));
    settle();
    EXPECT_TRUE(driver->ignoresMouse());
    EXPECT_EQ(writes(), before + 2);
}

TEST_F(PillPanelPointerTest, ARightClickOnThePillOpensTheMenuAndElsewherePassesThrough) {
    Wire::Microphone usb;
    usb.id = "usb-1";
    usb.name = "USB Mic";
    panel->setMicrophoneMenu({{usb}, std::nullopt});
    restOnIdleBar();

    EXPECT_FALSE(driver->mouse(PillMouseEvent::rightDown(plus(barCentre(), 0, 200))));
    EXPECT_TRUE(driver->menus.empty());

    const Point on = barCentre();
    EXPECT_TRUE(driver->mouse(PillMouseEvent::rightDown(on)));
    ASSERT_EQ(driver->menus.size(), 1U);
    EXPECT_EQ(driver->menus[0].at, on);
    EXPECT_EQ(driver->menus[0].items,
              PillMenu::items(PillCopy(PillLang::en), panel->microphoneMenu()));
    ASSERT_TRUE(driver->choose(PillMenuAction::microphone("usb-1")));
    settle();
    EXPECT_EQ(menuChoices, std::vector{PillMenuAction::microphone("usb-1")});

    // A shown state takes no right click.
    panel->show(PillState::polishing());
    settle();
    EXPECT_FALSE(driver->mouse(PillMouseEvent::rightDown(centreOf(panel->stage(), panel->spot()))));
    EXPECT_EQ(driver->menus.size(), 1U);
}

TEST_F(PillPanelPointerTest, ADragEndsOnASpotOrBackAtItsOrigin) {
    enum class End {
        drop,
        cancelDrag,
        dragDisabled,
        buttonReleasedElsewhere,
        idleBarOff,
        screensChanged
    };
    struct Case {
        const char* name;
        PillSpot over;
        End end;
        PillSpot lands;
    };
    const std::vector<Case> cases{
        {"dropped on its own spot", PillSpot::bottomCenter, End::drop, PillSpot::bottomCenter},
        {"dropped on another spot", PillSpot::topRight, End::drop, PillSpot::topRight},
        {"dropped on a middle spot", PillSpot::middleLeft, End::drop, PillSpot::middleLeft},
        {"cancelled by the caller", PillSpot::topRight, End::cancelDrag, PillSpot::bottomCenter},
        {"dragging turned off", PillSpot::topRight, End::dragDisabled, PillSpot::bottomCenter},
        {"the button came up outside", PillSpot::bottomLeft, End::buttonReleasedElsewhere,
         PillSpot::bottomLeft},
        {"the idle bar turned off", PillSpot::topRight, End::idleBarOff, PillSpot::bottomCenter},
        {"the screens changed", PillSpot::topLeft, End::screensChanged, PillSpot::bottomCenter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver = std::make_shared<test::PillWindowDriverFake>();
        driver->screenList = {plainScreen()};
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fonts.measure());
        listen();
        dragChanges.clear();
        spotChanges.clear();
        panel->setDragEnabled(true);
        restOnIdleBar();

        const Point start = lift();
        EXPECT_TRUE(panel->isOverlay());
        EXPECT_EQ(driver->frame(), screen().frame) << "the window covers the screen";
        EXPECT_TRUE(model->ghostsVisible());
        const Point over = pointerOver(start, c.over);
        EXPECT_TRUE(driver->mouse(PillMouseEvent::dragged(over)));
        EXPECT_EQ(model->hot(), c.over);
        EXPECT_EQ(model->shape().look.size, PillGeometry::liftedSize(c.over, screen(), 0));

        switch (c.end) {
        case End::drop:
            EXPECT_TRUE(driver->mouse(PillMouseEvent::up(over)));
            break;
        case End::cancelDrag:
            panel->cancelDrag();
            break;
        case End::dragDisabled:
            panel->setDragEnabled(false);
            break;
        case End::buttonReleasedElsewhere:
            // The button is still down when the pointer leaves: the drag goes on.
            EXPECT_FALSE(driver->moveTo(plus(over, 1, 1)));
            EXPECT_TRUE(panel->isDragging());
            driver->leftButtonDown = false;
            EXPECT_FALSE(driver->moveTo(over));
            break;
        case End::idleBarOff:
            panel->setShowsIdleBar(false);
            break;
        case End::screensChanged:
            driver->changeScreens({plainScreen()});
            break;
        }
        EXPECT_FALSE(panel->isDragging());
        EXPECT_EQ(panel->spot(), c.lands);
        EXPECT_EQ(dragChanges, (std::vector<bool>{true, false}));
        EXPECT_EQ(spotChanges, c.lands == PillSpot::bottomCenter ? std::vector<PillSpot>{}
                                                                 : std::vector{c.lands});
        EXPECT_FALSE(model->ghostsVisible());
        // A change of screens drops the snap it started and places the pill at once.
        const bool snaps = c.end != End::screensChanged;
        if (c.end != End::idleBarOff) {
            EXPECT_EQ(model->shape().look.size, targetFrame(PillStage::hover(), c.lands).size);
            EXPECT_EQ(shapeFrame(), targetFrame(PillStage::hover(), c.lands));
            if (snaps)
                EXPECT_EQ(model->shape().moveAnim, PillAnim::spring(PillMetrics::snap));
        }

        // The snap settles after 0.48 s and gives the window back its home box.
        const double ended = now();
        runTo(ended + 0.47);
        EXPECT_EQ(panel->isSnapping(), snaps);
        runTo(ended + 0.49);
        EXPECT_FALSE(panel->isSnapping());
        EXPECT_FALSE(panel->isOverlay());
        EXPECT_TRUE(model->ghosts().empty());
        EXPECT_EQ(model->hot(), std::nullopt);
        if (c.end != End::idleBarOff)
            EXPECT_EQ(driver->frame(), PillGeometry::homeBox(c.lands, screen()));
        settle();
    }
}

TEST_F(PillPanelPointerTest, AfterTheSnapThePointerAwayCollapsesTheHoverFormAfterTheGrace) {
    panel->setDragEnabled(true);
    restOnIdleBar();
    const Point start = lift();
    const Point over = pointerOver(start, PillSpot::topLeft);
    driver->mouse(PillMouseEvent::dragged(over));
    driver->mouse(PillMouseEvent::up(over));
    driver->pointer = {960, 540}; // nowhere near either spot
    const double ended = now();
    runTo(ended + 0.49);
    EXPECT_EQ(panel->stage(), PillStage::hover());
    EXPECT_TRUE(panel->isHovering());
    runTo(ended + 0.48 + 0.21);
    EXPECT_FALSE(panel->isHovering());
    EXPECT_EQ(panel->stage(), PillStage::bar());
    EXPECT_EQ(model->shape().centre, centreOf(PillStage::bar(), PillSpot::topLeft));
}

TEST_F(PillPanelPointerTest, InHandsFreeOnlyTheStopButtonsCircleTakesTheMouse) {
    struct Case {
        const char* name;
        PillScreen screen;
        PillSpot spot;
    };
    const std::vector<Case> cases{
        {"bottom centre", plainScreen(), PillSpot::bottomCenter},
        {"top right", plainScreen(), PillSpot::topRight},
        // The island's content hangs below the housing; so does its stop button.
        {"island", notchedScreen(), PillSpot::topCenter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver = std::make_shared<test::PillWindowDriverFake>();
        driver->screenList = {c.screen};
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fonts.measure());
        int stops = 0;
        panel->onStop = [&] { ++stops; };
        panel->setSpot(c.spot, false);
        panel->show(PillState::handsFree(12, "some words"));
        settle();
        const Rect pill = targetFrame(panel->stage(), c.spot);
        const double width = panel->face()->width;
        // The content's trailing end: flush right at a right spot, else half the width out.
        const double trailing =
            c.spot == PillSpot::topRight ? pill.maxX() : pill.midX() + width / 2;
        const Point stop{trailing - 6 - 16, pill.minY() + 22};

        // The button is a disc of radius 16 in a 32-point square.
        for (const Point p : {stop, plus(stop, 11, -11), plus(stop, -15.9, 0), plus(stop, 0, 16)}) {
            driver->moveTo(p);
            EXPECT_FALSE(driver->ignoresMouse()) << "on the button " << p.x << ", " << p.y;
        }
        // In the square's corners, 20.5 points from the centre, a click is beside the button.
        for (const Point p : {plus(stop, 14.5, 14.5), plus(stop, -14.5, -14.5), plus(stop, 12, -13),
                              plus(stop, -17, 0), plus(stop, 0, 17), plus(stop, 0, -17),
                              Point{pill.minX() + 10, pill.minY() + 22},
                              Point{pill.midX(), pill.maxY() - 5}, Point{5, 5}}) {
            driver->moveTo(p);
            EXPECT_TRUE(driver->ignoresMouse()) << p.x << ", " << p.y;
            EXPECT_FALSE(driver->mouse(PillMouseEvent::down(p)));
            EXPECT_FALSE(driver->mouse(PillMouseEvent::up(p)));
        }
        EXPECT_EQ(clicks, 0);
        model->onStop();
        EXPECT_EQ(stops, 1);
    }
}

TEST_F(PillPanelPointerTest, TheStopActionCountsOnlyInHandsFree) {
    int stops = 0;
    panel->onStop = [&] { ++stops; };
    panel->show(PillState::listening("", 0));
    model->onStop();
    EXPECT_EQ(stops, 0);
    panel->show(PillState::handsFree(1, ""));
    model->onStop();
    EXPECT_EQ(stops, 1);
}

TEST_F(PillPanelPointerTest, TheHoverFormShowsTheBubbleAndLightsTheMicrophoneNearItsCentre) {
    hoverOnBar();
    const Point centre = ghostCentre(PillSpot::bottomCenter);
    driver->moveTo(centre);
    EXPECT_TRUE(model->micHot());
    EXPECT_EQ(model->micAnim(), PillAnim::colour());
    ASSERT_TRUE(model->bubble());
    EXPECT_TRUE(model->bubbleVisible());
    EXPECT_EQ(model->bubble()->lead, "Hold");
    EXPECT_EQ(model->bubble()->key, PillCopy::keyName(HoldKey::rightOption, PillLang::en));

    driver->moveTo(plus(centre, 0, 16.5));
    EXPECT_TRUE(panel->isHovering());
    EXPECT_FALSE(model->micHot());
    driver->moveTo(plus(centre, 16, 0));
    EXPECT_TRUE(model->micHot());

    // A new hold key renames the bubble's key.
    panel->setHoldKey(HoldKey::f13);
    driver->moveTo(centre);
    EXPECT_EQ(model->bubble()->key, PillCopy::keyName(HoldKey::f13, PillLang::en));

    // Holding the key drops the hover form, its bubble and its light at once.
    panel->setHolding(true);
    EXPECT_FALSE(panel->isHovering());
    EXPECT_EQ(panel->stage(), PillStage::bar());
    EXPECT_FALSE(model->bubbleVisible());
    EXPECT_FALSE(model->micHot());
    EXPECT_TRUE(driver->ignoresMouse());
    EXPECT_FALSE(driver->mouse(PillMouseEvent::down(barCentre())));
}

TEST_F(PillPanelPointerTest, TheIslandHintTakesTheNewKeyInPlace) {
    driver->screenList = {notchedScreen()};
    panel->setSpot(PillSpot::topCenter, false);
    restOnIdleBar();
    driver->moveTo(centreOf(PillStage::bar(), PillSpot::topCenter));
    settle();
    ASSERT_EQ(panel->stage(), PillStage::hover());
    const auto layer = model->layers().back();
    ASSERT_TRUE(layer.kind.asHover());
    EXPECT_FALSE(model->bubbleVisible()) << "no bubble on the island";

    fonts.widths[PillCopy::keyName(HoldKey::f13, PillLang::en)] = 180;
    panel->setHoldKey(HoldKey::f13);
    const auto* hover = model->layers().back().kind.asHover();
    ASSERT_TRUE(hover);
    EXPECT_EQ(model->layers().back().id, layer.id);
    EXPECT_EQ(hover->key, PillCopy::keyName(HoldKey::f13, PillLang::en));
    EXPECT_EQ(hover->width, panel->hoverWidth());
    EXPECT_GT(panel->hoverWidth(), layer.kind.asHover()->width);
}

TEST_F(PillPanelPointerTest, AShowDuringADragPutsThePillBackAndVoidsThePress) {
    panel->setDragEnabled(true);
    restOnIdleBar();
    const Point start = lift();
    const Point over = pointerOver(start, PillSpot::topRight);
    driver->mouse(PillMouseEvent::dragged(over));
    panel->show(PillState::listening("", 0.3F));
    EXPECT_FALSE(panel->isDragging());
    EXPECT_EQ(panel->spot(), PillSpot::bottomCenter);
    EXPECT_EQ(dragChanges, (std::vector<bool>{true, false}));
    EXPECT_TRUE(spotChanges.empty());
    // The press that lifted the pill is over, but it never turns into a click.
    EXPECT_TRUE(driver->mouse(PillMouseEvent::up(over)));
    EXPECT_EQ(clicks, 0);
    settle();
    EXPECT_EQ(panel->stage(), PillStage::pill(panel->face()->width));
    EXPECT_EQ(driver->frame(), PillGeometry::homeBox(PillSpot::bottomCenter, screen()));
}

} // namespace
} // namespace talverin
