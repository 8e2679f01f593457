#include "TalverinPill/PillOverlayViews.h"

#include "TalverinPill/PillColor.h"
#include "TalverinPill/PillModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace talverin {
namespace {

using ThemeTokens::RGBA;

// A transparent canvas in points, at two pixels a point.
class Canvas {
public:
    Canvas(int width, int height)
        : m_surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width * 2, height * 2),
                    cairo_surface_destroy),
          m_cr(cairo_create(m_surface.get()), cairo_destroy) {
        cairo_scale(m_cr.get(), 2, 2);
    }
    cairo_t* cr() const { return m_cr.get(); }
    // The unpremultiplied colour at a point.
    RGBA at(double x, double y) const {
        cairo_surface_flush(m_surface.get());
        const auto* row = cairo_image_surface_get_data(m_surface.get()) +
                          int(y * 2) * cairo_image_surface_get_stride(m_surface.get());
        const auto pixel = reinterpret_cast<const std::uint32_t*>(row)[int(x * 2)];
        const double a = ((pixel >> 24) & 0xff) / 255.0;
        if (a == 0)
            return {};
        return {((pixel >> 16) & 0xff) / 255.0 / a, ((pixel >> 8) & 0xff) / 255.0 / a,
                (pixel & 0xff) / 255.0 / a, a};
    }

private:
    std::shared_ptr<cairo_surface_t> m_surface;
    std::shared_ptr<cairo_t> m_cr;
};

bool near(RGBA a, RGBA b, double tolerance = 0.03) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance && std::abs(a.a - b.a) <= tolerance;
}

TEST(PillOverlayViews, ScreenPointsLandInTheWindowFlipped) {
    const Rect window{{100, 200}, {300, 80}};
    EXPECT_EQ(toWindow({100, 280}, window), (Point{0, 0}));
    EXPECT_EQ(toWindow({250, 210}, window), (Point{150, 70}));
}

TEST(PillOverlayViews, TheGrabPointLandsOnTheCentre) {
    const Size size{120, 44};
    const Point centre{200, 100}; // drawing coordinates, y down
    auto frameFor = [&](Size s, Point grab) {
        const Point offset = PillGrabOffset{s, grab}.offset();
        const double minX = centre.x + offset.x - s.width / 2;
        const double minY = centre.y + offset.y - s.height / 2;
        return std::pair{Point{minX, minY}, Point{minX + s.width, minY + s.height}};
    };
    EXPECT_EQ(PillGrabOffset(size, {0.5, 0.5}).offset(), (Point{0, 0}));
    // Grab (0, 0) is the bottom-left corner.
    auto [topLeft, bottomRight] = frameFor(size, {0, 0});
    EXPECT_EQ(topLeft.x, centre.x);
    EXPECT_EQ(bottomRight.y, centre.y);
    // Growing around grab (1, 1) keeps the top-right corner in place.
    auto small = frameFor(size, {1, 1});
    auto large = frameFor({220, 64}, {1, 1});
    EXPECT_EQ(small.second.x, large.second.x);
    EXPECT_EQ(small.first.y, large.first.y);
}

TEST(PillOverlayViews, AnIslandScalesFromItsTopAndLosesBodyAndBorder) {
    PillLook look{{200, 37}, 0, 9, 1};
    EXPECT_EQ(PillShapeView::scaleAnchor(look, {100, 50}), (Point{100, 31.5}));
    look.islandness = 0.5;
    EXPECT_EQ(PillShapeView::scaleAnchor(look, {100, 50}), (Point{100, 50}));

    Canvas canvas(240, 80);
    PillShapeState shape;
    shape.look = {{200, 37}, 0, 9, 1};
    shape.opacity = 1;
    shape.scale = 1;
    PillShapeView{shape}.draw(canvas.cr(), {120, 40});
    EXPECT_TRUE(near(canvas.at(120, 40), PillColor::island()));
    // The border's line at the left edge is black too, and no base shadow shows below.
    EXPECT_TRUE(near(canvas.at(20.3, 40), PillColor::island()));
    EXPECT_EQ(canvas.at(120, 61).a, 0);

    Canvas plainCanvas(240, 80);
    shape.look.islandness = 0;
    PillShapeView{shape}.draw(plainCanvas.cr(), {120, 40});
    EXPECT_TRUE(near(plainCanvas.at(120, 40), PillColor::background()));
    EXPECT_GT(plainCanvas.at(120, 59.5).a, 0.02); // the base shadow
}

TEST(PillOverlayViews, LayersAreFramedByKind) {
    EXPECT_EQ(PillShapeView::layerSize(PillContentLayer::Kind::mic("Hands-free", true)),
              (Size{44, 64}));
    EXPECT_EQ(PillShapeView::layerSize(PillContentLayer::Kind::mic("Hands-free", false)),
              (Size{64, 44}));
    EXPECT_EQ(PillShapeView::layerSize(PillContentLayer::Kind::hover("Hold", "Right ⌥", 130)),
              (Size{130, 28}));
}

TEST(PillOverlayViews, MotionOffShowsLayersAtOnce) {
    for (auto [animated, reduce] : {std::pair{false, false}, std::pair{true, true}}) {
        EXPECT_FALSE(PillShapeView::insertion(0.1, animated, reduce));
        EXPECT_FALSE(PillShapeView::removal(animated, reduce));
        EXPECT_FALSE(PillShapeView::listAnimation(animated, reduce));
    }
    auto in = PillShapeView::insertion(0.1, true, false);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->duration, PillMetrics::fadeIn);
    EXPECT_EQ(in->delay, 0.1);
    EXPECT_EQ(PillShapeView::removal(true, false)->duration, PillMetrics::fadeOut);
}

TEST(PillOverlayViews, TheBubbleSlidesInWithTheMorphSpringOnly) {
    auto in = PillRootView::slideAnimation(PillAnim::fade(PillFade::fadeIn, 0.2));
    ASSERT_TRUE(in);
    EXPECT_EQ(in->type, PillAnim::Animation::Type::spring);
    EXPECT_EQ(in->spring, PillMetrics::morph);
    EXPECT_EQ(in->delay, 0.2);
    auto out = PillRootView::slideAnimation(PillAnim::fade(PillFade::fadeOut, 0));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->duration, PillMetrics::fadeOut);
    EXPECT_FALSE(PillRootView::slideAnimation(PillAnim::colour()));
    EXPECT_FALSE(PillRootView::slideAnimation(std::nullopt));
}

TEST(PillOverlayViews, OnlyTheHotGhostIsHighlighted) {
    const Rect window{{0, 0}, {300, 100}};
    PillModel model;
    model.setWindow(window);
    model.setGhosts({{PillSpot::bottomLeft, {{{20, 20}, {80, 30}}, 15, 15, false}},
                     {PillSpot::bottomRight, {{{200, 20}, {80, 30}}, 15, 15, false}}});
    model.showGhosts(true);
    auto fillAt = [&](double x) {
        Canvas canvas(300, 100);
        PillRootView{model}.draw(canvas.cr());
        return canvas.at(x, 65);
    };
    EXPECT_TRUE(near(fillAt(60), PillColor::ghostFill()));
    EXPECT_TRUE(near(fillAt(240), PillColor::ghostFill()));
    model.setHot(PillSpot::bottomRight, false);
    EXPECT_TRUE(near(fillAt(60), PillColor::ghostFill()));
    EXPECT_TRUE(near(fillAt(240), PillColor::ghostHotFill()));
    model.showGhosts(false);
    EXPECT_EQ(fillAt(240).a, 0);
}

} // namespace
} // namespace talverin
