#pragma once

#include "Runtime/MainQueue.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinPill/PillGeometry.h"
#include "TalverinPill/PillPanel.h"
#include "TalverinPill/PillRects.h"
#include "fakes/PillMeasureFake.h"
#include "fakes/PillWindowDriverFake.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace talverin::test {

inline Rect rect(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}

// A plain display with a panel along its top edge, and one with a camera housing.
inline PillScreen plainScreen() {
    return {7, rect(0, 0, 1920, 1080), rect(0, 0, 1920, 1055), std::nullopt};
}
inline PillScreen notchedScreen() {
    const Rect frame = rect(0, 0, 1512, 982);
    return {3, frame, rect(0, 0, 1512, 945), PillScreen::notchFrom(frame, 37, 661, 661)};
}

// A panel on the fake driver in a virtual world whose clock starts at 1000 s. Times in the
// tests are seconds since the start.
class PillPanelWorld : public ::testing::Test {
protected:
    static constexpr double start = 1000;

    VirtualWorld world{start};
    PillMeasureFake fonts;
    std::shared_ptr<PillModel> model = std::make_shared<PillModel>();
    std::shared_ptr<PillWindowDriverFake> driver = std::make_shared<PillWindowDriverFake>();
    std::unique_ptr<PillPanel> panel;

    void SetUp() override {
        driver->screenList = {plainScreen()};
        driver->pointer = {5, 5};
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fonts.measure());
    }

    static double now() { return Clock::uptime() - start; }
    void runTo(double t) { world.runUntil(start + t); }
    void settle() { world.runUntilIdle(); }

    // The pill's screen as the panel knows it.
    const PillScreen& screen() const { return *panel->screen(); }
    Rect targetFrame(const PillStage& stage, PillSpot spot) const {
        return PillGeometry::target(stage, spot, screen()).frame;
    }
    Point centreOf(const PillStage& stage, PillSpot spot) const {
        return PillRects::centre(targetFrame(stage, spot));
    }

    // The idle bar on screen and at rest, the pointer away from it.
    void restOnIdleBar() {
        panel->setShowsIdleBar(true);
        settle();
        ASSERT_TRUE(driver->isVisible());
        ASSERT_EQ(panel->stage(), PillStage::bar());
    }
    // The pointer comes to the bar and stays until the hover form is up.
    void hoverOnBar() {
        restOnIdleBar();
        driver->moveTo(centreOf(PillStage::bar(), panel->spot()));
        settle();
        ASSERT_TRUE(panel->isHovering());
        ASSERT_EQ(panel->stage(), PillStage::hover());
    }

    std::vector<double> orderOutTimes() const {
        std::vector<double> times;
        for (const auto& op : driver->opsOf(PillWindowDriverFake::Op::Kind::orderOut))
            times.push_back(op.time - start);
        return times;
    }
};

} // namespace talverin::test
