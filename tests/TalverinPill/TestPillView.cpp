#include "TalverinPill/PillView.h"

#include "TalverinPill/PillColor.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillLayout.h"
#include "TalverinPill/PillMotion.h"
#include "TalverinPill/PillSnapshot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

namespace talverin {
namespace {

using ThemeTokens::RGBA;

// A decoded PNG, read back the way any viewer would.
class Pixels {
public:
    explicit Pixels(const std::string& png) {
        struct Reader {
            const std::string* data;
            std::size_t offset = 0;
        } reader{&png};
        auto read = [](void* closure, unsigned char* bytes, unsigned int length) {
            auto* from = static_cast<Reader*>(closure);
            if (from->offset + length > from->data->size())
                return CAIRO_STATUS_READ_ERROR;
            std::copy_n(from->data->data() + from->offset, length, bytes);
            from->offset += length;
            return CAIRO_STATUS_SUCCESS;
        };
        m_surface.reset(cairo_image_surface_create_from_png_stream(read, &reader),
                        cairo_surface_destroy);
    }
    bool valid() const { return cairo_surface_status(m_surface.get()) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(m_surface.get()); }
    int height() const { return cairo_image_surface_get_height(m_surface.get()); }
    // Unpremultiplied colour of one pixel.
    RGBA at(int x, int y) const {
        const auto* row = cairo_image_surface_get_data(m_surface.get()) +
                          y * cairo_image_surface_get_stride(m_surface.get());
        const auto pixel = reinterpret_cast<const std::uint32_t*>(row)[x];
        const double a = ((pixel >> 24) & 0xff) / 255.0;
        if (a == 0)
            return {0, 0, 0, 0};
        return {((pixel >> 16) & 0xff) / 255.0 / a, ((pixel >> 8) & 0xff) / 255.0 / a,
                (pixel & 0xff) / 255.0 / a, a};
    }

private:
    std::shared_ptr<cairo_surface_t> m_surface;
};

bool near(RGBA a, RGBA b, double tolerance = 0.02) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance && std::abs(a.a - b.a) <= tolerance;
}

constexpr double margin = 8;

Pixels rendered(const PillState& state, double scale = 2, PillLang lang = PillLang::en) {
    auto data = PillSnapshot::png(state, scale, lang, std::nullopt, margin);
    EXPECT_TRUE(data.has_value());
    Pixels pixels(data.value_or(""));
    EXPECT_TRUE(pixels.valid());
    return pixels;
}

double faceWidth(const PillState& state, PillLang lang = PillLang::en) {
    return PillView{state, lang}.body()->width();
}

TEST(PillView, TheHiddenStateDrawsNothing) {
    EXPECT_FALSE(PillView{PillState::hidden()}.body());
    EXPECT_FALSE(PillSnapshot::png(PillState::hidden(), 2, PillLang::en, std::nullopt, 8));
}

TEST(PillView, StaticLevelsPutTheFullLevelLast) {
    EXPECT_EQ(PillView::levels(PillState::listening("", 0.5f)),
              (std::vector<float>{0.35f * 0.5f, 0.6f * 0.5f, 0.8f * 0.5f, 0.5f}));
    EXPECT_TRUE(PillView::levels(PillState::polishing()).empty());
}

TEST(PillView, PngIsTheBodyPlusItsMarginAtTheScale) {
    for (double scale : {1.0, 2.0, 3.0}) {
        for (const auto& state : {PillState::polishing(), PillState::handsFree(74, "hi"),
                                  PillState::learned("Talverin")}) {
            auto pixels = rendered(state, scale);
            EXPECT_EQ(pixels.width(), std::lround((faceWidth(state) + 2 * margin) * scale));
            EXPECT_EQ(pixels.height(), std::lround((PillLayout::height + 2 * margin) * scale));
        }
    }
}

TEST(PillView, TheBodyIsFilledAndItsCornersAreClear) {
    auto pixels = rendered(PillState::polishing(), 2);
    const double width = faceWidth(PillState::polishing());
    // Inside the trailing padding, clear of the border: the body's colour.
    EXPECT_TRUE(near(pixels.at(int((margin + width - 9) * 2), int((margin + 22) * 2)),
                     PillColor::background()));
    // The margin and the capsule's cut-off corners stay transparent.
    for (auto [x, y] : {std::pair{0, 0}, std::pair{int((margin + 2) * 2), int((margin + 2) * 2)},
                        std::pair{pixels.width() - 1, pixels.height() - 1}})
        EXPECT_EQ(pixels.at(x, y).a, 0) << x << "," << y;
}

// How many points of a column are covered by the accent colour over the body.
double accentHeight(const Pixels& pixels, int x, double scale) {
    const double from = PillColor::background().g;
    const double to = PillColor::accent().g;
    double covered = 0;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto pixel = pixels.at(x, y);
        if (pixel.a > 0.99)
            covered += std::clamp((pixel.g - from) / (to - from), 0.0, 1.0);
    }
    return covered / scale;
}

TEST(PillView, LevelBarsRiseFromTheOuterBarsToTheMiddle) {
    struct Case {
        float level;
        std::vector<double> heights;
    };
    const Case cases[] = {{0.5f, {8, 11, 14, 15, 14, 11, 8}},
                          {1.0f, {9, 14, 18, 20, 18, 14, 9}},
                          {0.0f, {4, 4, 4, 4, 4, 4, 4}}};
    const double scale = 2;
    for (const auto& c : cases) {
        auto pixels = rendered(PillState::listening("", c.level), scale);
        for (int bar = 0; bar < 7; ++bar) {
            const double centre = margin + PillLayout::padLead + bar * 6 + 1.5;
            EXPECT_NEAR(accentHeight(pixels, int(centre * scale), scale), c.heights[bar], 0.3)
                << "level " << c.level << " bar " << bar;
        }
    }
}

struct ColourSpan {
    int minX = 1 << 30;
    int maxX = -1;
    int count = 0;
};

ColourSpan spanOf(const Pixels& pixels, RGBA colour, int fromX, int toX) {
    ColourSpan span;
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = std::max(fromX, 0); x < std::min(toX, pixels.width()); ++x)
            if (near(pixels.at(x, y), colour, 0.03)) {
                span.minX = std::min(span.minX, x);
                span.maxX = std::max(span.maxX, x);
                ++span.count;
            }
    return span;
}

TEST(PillView, OnlyTheLearnedWordIsInTheAccentColour) {
    const double scale = 2;
    // Past the mark, where only the title and detail are drawn.
    auto textArea = [&](const PillState& state) {
        auto pixels = rendered(state, scale);
        const int from = int((margin + PillLayout::padLead + 24 + PillLayout::gap) * scale);
        return spanOf(pixels, PillColor::accent(), from, pixels.width());
    };
    EXPECT_GT(textArea(PillState::learned("Talverin")).count, 20);
    EXPECT_EQ(textArea(PillState::inserted("Notes")).count, 0);
    EXPECT_EQ(textArea(PillState::silence()).count, 0);
}

TEST(PillView, ALongDetailIsCutBeforeTheTrailingPadding) {
    const double scale = 2;
    const auto state = PillState::learned("Pneumonoultramicroscopicsilicovolcanoconiosis");
    const double width = faceWidth(state);
    EXPECT_EQ(width, PillLayout::maxWidth);
    auto pixels = rendered(state, scale);
    auto detail = spanOf(pixels, PillColor::accent(), 0, pixels.width());
    EXPECT_GT(detail.count, 20);
    EXPECT_LE(detail.maxX, int((margin + width - PillLayout::padTrail) * scale));
}

TEST(PillView, LiveWordsAreMutedExceptTheNewest) {
    const double scale = 2;
    auto pixels = rendered(PillState::listening("hi, this is", 0.3f), scale);
    const double textStart = margin + PillLayout::padLead + 39 + PillLayout::gap;
    auto newest = spanOf(pixels, PillColor::foreground(), 0, pixels.width());
    auto earlier = spanOf(pixels, PillColor::muted(), 0, pixels.width());
    ASSERT_GT(newest.count, 5);
    ASSERT_GT(earlier.count, 5);
    const double headWidth = PillFonts::width("hi, this ", 13.5, 500, false);
    EXPECT_GE(newest.minX, int((textStart + headWidth - 1) * scale));
    EXPECT_LT(earlier.maxX, newest.minX);
    EXPECT_GE(earlier.minX, int((textStart - 1) * scale));
}

TEST(PillView, AnEmptyTranscriptShowsThePlaceholderMuted) {
    auto pixels = rendered(PillState::listening("", 0.3f), 2);
    EXPECT_GT(spanOf(pixels, PillColor::muted(), 0, pixels.width()).count, 5);
    EXPECT_EQ(spanOf(pixels, PillColor::foreground(), 0, pixels.width()).count, 0);
}

TEST(PillView, ALongTranscriptKeepsItsNewestWordsAtTheEnd) {
    const std::string sentence = "let's meet on Thursday at noon by the main entrance";
    std::string text = sentence + " " + sentence + " " + sentence + " " + sentence;
    const double scale = 2;
    const auto state = PillState::listening(text, 1.0f);
    auto pixels = rendered(state, scale);
    auto newest = spanOf(pixels, PillColor::foreground(), 0, pixels.width());
    ASSERT_GT(newest.count, 5);
    // The newest word ends near the trailing padding, not cut off.
    const double end = margin + faceWidth(state) - PillLayout::padTrail;
    EXPECT_LE(newest.maxX, int(end * scale));
    EXPECT_GE(newest.maxX, int((end - 20) * scale));
}

TEST(PillView, HandsFreeHasTheTimerAndTheStopButton) {
    const double scale = 2;
    const auto state = PillState::handsFree(74, "");
    const double width = faceWidth(state);
    auto pixels = rendered(state, scale);
    // The stop glyph's centre: 6 from the end, in a 32-point frame.
    const double stopCentre = margin + width - PillLayout::padStop - 16;
    EXPECT_TRUE(near(pixels.at(int(stopCentre * scale), int((margin + 22) * scale)),
                     PillColor::foreground()));
    EXPECT_TRUE(near(pixels.at(int((stopCentre + 12) * scale), int((margin + 22) * scale)),
                     PillColor::neutralDisc()));
    // The recording dot.
    EXPECT_TRUE(
        near(pixels.at(int((margin + PillLayout::padLead + 8) * scale), int((margin + 22) * scale)),
             PillColor::danger()));
}

TEST(PillView, TheTitleStaysWholeWhenTheDetailIsCut) {
    const double scale = 2;
    auto titleWidth = [&](const PillState& state) {
        auto pixels = rendered(state, scale);
        auto title = spanOf(pixels, PillColor::foreground(), 0, pixels.width());
        return title.maxX - title.minX;
    };
    const int whole = titleWidth(PillState::learned("Talverin"));
    EXPECT_GT(whole, 40);
    EXPECT_NEAR(titleWidth(PillState::learned("Pneumonoultramicroscopicsilicovolcanoconiosis")),
                whole, 2);
}

// Draws a painter onto a transparent canvas of 60 x 44 points at two pixels a point.
template <typename Paint> Pixels painted(Paint paint) {
    std::shared_ptr<cairo_surface_t> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 120, 88), cairo_surface_destroy);
    cairo_t* cr = cairo_create(surface.get());
    cairo_scale(cr, 2, 2);
    paint(cr);
    cairo_destroy(cr);
    return Pixels(PillSnapshot::encodePNG(surface.get()).value_or(""));
}

TEST(PillView, StillDotsShowTheirFixedOpacities) {
    // Dots 5 wide, 4 apart, centred in the frame.
    auto alphas = [](const Pixels& pixels) {
        std::vector<double> values;
        for (int i = 0; i < 3; ++i)
            values.push_back(pixels.at(int((30 - 11.5 + 2.5 + i * 9) * 2), 44).a);
        return values;
    };
    auto still = alphas(painted([](cairo_t* cr) {
        PulsingDots{false, 0}.draw(cr, {0, 0, 60, 44});
    }));
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(still[i], PillMotion::staticDots[i], 0.01) << i;
    const double time = 1.3;
    auto pulsing = alphas(painted([&](cairo_t* cr) {
        PulsingDots{true, time}.draw(cr, {0, 0, 60, 44});
    }));
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(pulsing[i], PillMotion::dotOpacity(i, time), 0.01) << i;
}

TEST(PillView, TheStopButtonTurnsRedOnlyWhileHeld) {
    for (bool pressed : {false, true}) {
        auto pixels = painted([&](cairo_t* cr) {
            StopButton{"Stop", [] {}, pressed}.draw(cr, {14, 6, 32, 32});
        });
        EXPECT_TRUE(
            near(pixels.at(60, 44), pressed ? PillColor::danger() : PillColor::foreground()));
        EXPECT_TRUE(near(pixels.at(60 + 24, 44),
                         pressed ? PillColor::dangerTint() : PillColor::neutralDisc()));
    }
}

} // namespace
} // namespace talverin
