#include "Talverin/App/CubicBezier.h"
#include "Talverin/App/MenuBarIcon.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace talverin {
namespace {

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

TEST(MenuBarIcon, BarsFollowTheLastTwoLevels) {
    struct Case {
        std::vector<float> levels;
        std::array<double, 3> bars;
    };
    const Case cases[] = {
        {{}, {3, 4, 3}},
        {{0.25f}, {4.2, 5, 4.2}},      // one level drives all three
        {{0.04f, 0.64f}, {3.48, 5.6, 3.48}}, // outer: the level before, middle: the newest
        {{0.9f, 0.04f, 0.64f}, {3.48, 5.6, 3.48}},
        {{1.0f}, {5.4, 6, 5.4}},
        {{7.0f}, {5.4, 6, 5.4}},
        {{-0.5f}, {3, 4, 3}},
        {{nan}, {3, 4, 3}},
        {{nan, 1.0f}, {3, 6, 3}},
    };
    for (const Case& c : cases) {
        const auto bars = MenuBarIcon::bars(c.levels);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_NEAR(bars[i], c.bars[i], 1e-6) << "levels " << c.levels.size() << " bar " << i;
    }
}

TEST(MenuBarIcon, EasingCurveEndsAndMiddle) {
    const CubicBezier e1{0.45, 0, 0.55, 1};
    EXPECT_EQ(e1(0), 0);
    EXPECT_EQ(e1(-1), 0);
    EXPECT_EQ(e1(std::nan("")), 0);
    EXPECT_EQ(e1(1), 1);
    EXPECT_EQ(e1(3), 1);
    EXPECT_NEAR(e1(0.5), 0.5, 1e-9); // the curve is symmetric
    const CubicBezier e2{0.23, 1, 0.32, 1};
    EXPECT_GT(e2(0.25), 0.7); // a fast start that settles
}

TEST(MenuBarIcon, PolishingCycleOverOnePointSixSeconds) {
    struct Case {
        double t;
        double line, alpha, caret;
    };
    const Case cases[] = {
        {0, 0, 0, 0},
        {0.76, 1, 1, 1},    // the line is complete and the caret at rest
        {1.0, 1, 1, 1},
        {1.3, 0, 0, 1 - CubicBezier{0.45, 0, 0.55, 1}(0.14 / 0.3)}, // the line is gone
        {1.46, 0, 0, 0},    // the caret is back at its left end
        {1.6, 0, 0, 0},     // and the cycle starts again
        {1.6 + 0.76, 1, 1, 1},
        {-3, 0, 0, 0},
        {std::nan(""), 0, 0, 0},
        {std::numeric_limits<double>::infinity(), 0, 0, 0},
    };
    for (const Case& c : cases) {
        const auto p = MenuBarIcon::polishing(c.t, false);
        EXPECT_NEAR(p.line, c.line, 1e-9) << c.t;
        EXPECT_NEAR(p.alpha, c.alpha, 1e-9) << c.t;
        EXPECT_NEAR(p.caret, c.caret, 1e-9) << c.t;
    }
    EXPECT_EQ(MenuBarIcon::polishing(1.3, true), (MenuBarIcon::Polishing{1, 1, 1}));
    // Just before 1.3 the line still shows, fading.
    const auto fading = MenuBarIcon::polishing(1.25, false);
    EXPECT_GT(fading.line, 0);
    EXPECT_GT(fading.alpha, 0);
    EXPECT_LT(fading.alpha, 1);
}

// Alpha of one pixel of a rendered image.
unsigned alphaAt(const std::vector<std::uint32_t>& pixels, int side, int x, int y) {
    return pixels.at(static_cast<std::size_t>(y * side + x)) >> 24;
}

TEST(MenuBarIcon, TheCaretTravelsBetweenXEightAndItsRest) {
    // At 18 pixels one pixel is one unit: the caret is one column wide, rows 5 to 9.
    const auto atRest = MenuBarIcon::image(MenuBarIcon::polishing(0.76, false)).render(18, MenuBarIcon::Tint::black);
    const auto back = MenuBarIcon::image(MenuBarIcon::polishing(1.46, false)).render(18, MenuBarIcon::Tint::black);
    ASSERT_EQ(atRest.size(), 18u * 18u);
    EXPECT_EQ(alphaAt(atRest, 18, 12, 5), 255u);
    EXPECT_EQ(alphaAt(atRest, 18, 8, 5), 0u);
    EXPECT_EQ(alphaAt(back, 18, 8, 5), 255u);
    EXPECT_EQ(alphaAt(back, 18, 12, 5), 0u);
    // The idle glyph has the full line and the caret at rest.
    const auto idle = MenuBarIcon::image(MenuBarIcon::Idle{}).render(18, MenuBarIcon::Tint::white);
    EXPECT_EQ(alphaAt(idle, 18, 12, 5), 255u);
    EXPECT_EQ(alphaAt(idle, 18, 7, 7), 255u);
    EXPECT_EQ(idle.at(12 + 5 * 18), 0xffffffffu); // white, fully opaque
}

struct PngDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};

TEST(MenuBarIcon, TheIconSheetIs176By72WithTheFineGeometry) {
    const auto data = MenuBarIcon::png(4);
    ASSERT_TRUE(data);
    struct Reader {
        const std::string* bytes;
        std::size_t at = 0;
    } reader{&*data};
    std::unique_ptr<cairo_surface_t, PngDeleter> image(cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* out, unsigned int length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->at + length > r->bytes->size())
                return CAIRO_STATUS_READ_ERROR;
            std::memcpy(out, r->bytes->data() + r->at, length);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader));
    ASSERT_EQ(cairo_surface_status(image.get()), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(image.get()), 176);
    ASSERT_EQ(cairo_image_surface_get_height(image.get()), 72);
    const int stride = cairo_image_surface_get_stride(image.get());
    const unsigned char* bytes = cairo_image_surface_get_data(image.get());
    auto alpha = [&](double ux, double uy) {
        const int x = static_cast<int>(ux * 4);
        const int y = static_cast<int>(uy * 4);
        return reinterpret_cast<const std::uint32_t*>(bytes + y * stride)[x] >> 24;
    };
    // Idle: the inside of the bubble is clear, the line and the caret are solid. The fine
    // caret stands at 11.5 to 13, where the plain one would start at 12.
    EXPECT_EQ(alpha(4, 5), 0u);
    EXPECT_EQ(alpha(7, 7.25), 255u);
    EXPECT_EQ(alpha(11.6, 7), 255u);
    // Listening, 26 units to the right: a filled bubble with the bars cut out of it.
    EXPECT_EQ(alpha(26 + 6.5, 10.5), 255u);
    EXPECT_EQ(alpha(26 + 9, 7.5), 0u);
    EXPECT_EQ(alpha(26 + 6, 7.5), 0u);
    // Between the sheets nothing is drawn.
    EXPECT_EQ(alpha(21, 7.5), 0u);
}

} // namespace
} // namespace talverin
