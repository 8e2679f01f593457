#include "TalverinPill/PillContent.h"

#include "TalverinPill/PillBars.h"
#include "TalverinPill/PillColor.h"
#include "TalverinPill/PillLayout.h"
#include "TalverinPill/PillLiveText.h"
#include "TalverinPill/PillMotion.h"
#include "TalverinPill/PillSymbols.h"

#include <algorithm>

namespace talverin {
namespace {

using PillCanvas::Box;
using Mark = PillFace::Mark;
using Tone = PillFace::Tone;

PillFonts::Font textFont(double weight, bool tabular = false) {
    return PillFonts::font(PillLayout::textSize, weight, tabular);
}

double measure(std::string_view text, double size, double weight, bool tabular) {
    return PillFonts::width(text, size, weight, tabular);
}

std::pair<PillColor::RGBA, PillColor::RGBA> toneColours(Tone tone) {
    switch (tone) {
    case Tone::neutral:
        return {PillColor::neutralDisc(), PillColor::foreground()};
    case Tone::accent:
        return {PillColor::accentTint(), PillColor::accent()};
    case Tone::warn:
        return {PillColor::warnTint(), PillColor::warn()};
    }
    return {PillColor::neutralDisc(), PillColor::foreground()};
}

void drawMark(cairo_t* cr, const PillContent& content, const Box& frame) {
    const Mark& mark = content.face.mark;
    const double cx = frame.midX();
    const double cy = frame.midY();
    switch (mark.kind()) {
    case Mark::Kind::bars:
        LevelBars{content.levels}.draw(cr, frame);
        return;
    case Mark::Kind::dots:
        PulsingDots{content.animated && !content.reduceMotion, content.time}.draw(cr, frame);
        return;
    case Mark::Kind::check:
        PillCanvas::circlePath(cr, cx, cy, PillLayout::discSize);
        PillCanvas::fill(cr, PillColor::accent());
        PillSymbols::draw(cr, "checkmark", cx, cy, PillLayout::symbolSize, 700,
                          PillColor::onAccent());
        return;
    case Mark::Kind::recording:
        PillCanvas::circlePath(cr, cx, cy, PillLayout::recHalo);
        PillCanvas::fill(cr, PillColor::dangerTint());
        PillCanvas::circlePath(cr, cx, cy, PillLayout::recDot);
        PillCanvas::fill(cr, PillColor::danger());
        return;
    case Mark::Kind::symbol: {
        auto [disc, glyph] = toneColours(mark.tone());
        PillCanvas::circlePath(cr, cx, cy, PillLayout::discSize);
        PillCanvas::fill(cr, disc);
        PillSymbols::draw(cr, mark.name(), cx, cy, PillLayout::symbolSize, 600, glyph);
        return;
    }
    }
}

// The title whole, then as much of the detail as the row leaves, cut at its end.
void drawLabel(cairo_t* cr, const PillFace::Text& text, double x, double midY, double room) {
    const auto titleFont = textFont(PillLayout::titleWeight);
    const double titleWidth =
        PillCanvas::drawText(cr, {{text.title(), PillColor::foreground()}}, titleFont, x, midY);
    const auto& detail = text.detail();
    if (!detail || detail->empty())
        return;
    const double detailRoom = room - titleWidth - PillLayout::detailGap;
    if (detailRoom <= 0)
        return;
    const auto colour = text.accentDetail() ? PillColor::accent() : PillColor::muted();
    PillCanvas::drawText(cr, {{*detail, colour}}, textFont(PillLayout::detailWeight),
                         x + titleWidth + PillLayout::detailGap, midY, detailRoom,
                         PillCanvas::Cut::tail);
}

double labelWidth(const PillFace::Text& text) {
    double width = PillCanvas::textWidth(text.title(), textFont(PillLayout::titleWeight));
    if (text.detail() && !text.detail()->empty())
        width += PillLayout::detailGap +
                 PillCanvas::textWidth(*text.detail(), textFont(PillLayout::detailWeight));
    return width;
}

} // namespace

void LiveWords::draw(cairo_t* cr, const Box& frame) const {
    const auto font = textFont(PillLayout::liveWeight);
    auto [head, last] = PillLiveText::fit(text, width, [&](std::string_view candidate) {
        return PillFonts::width(candidate, font.size, font.weight, font.tabular);
    });
    if (last.empty()) {
        PillCanvas::drawText(cr, {{placeholder, PillColor::muted()}}, font, frame.x, frame.midY(),
                             frame.width, PillCanvas::Cut::head);
        return;
    }
    PillCanvas::drawText(cr, {{head, PillColor::muted()}, {last, PillColor::foreground()}}, font,
                         frame.x, frame.midY(), frame.width, PillCanvas::Cut::head);
}

void LevelBars::draw(cairo_t* cr, const Box& frame) const {
    const auto heights =
        PillBars::heights(levels, PillBars::count, PillBars::minHeight, PillBars::maxHeight);
    const double x0 = frame.midX() - frameWidth / 2;
    for (std::size_t i = 0; i < heights.size(); ++i) {
        const double x = x0 + static_cast<double>(i) * (PillBars::barWidth + PillBars::barGap);
        PillCanvas::capsulePath(cr,
                                {x, frame.midY() - heights[i] / 2, PillBars::barWidth, heights[i]});
    }
    PillCanvas::fill(cr, PillColor::accent());
}

void PulsingDots::draw(cairo_t* cr, const Box& frame) const {
    using namespace PillLayout;
    const double total = dotCount * dotSize + (dotCount - 1) * dotGap;
    for (int i = 0; i < dotCount; ++i) {
        const double opacity = animated ? PillMotion::dotOpacity(i, time)
                                        : PillMotion::staticDots[static_cast<std::size_t>(i % 3)];
        const double x = frame.midX() - total / 2 + i * (dotSize + dotGap) + dotSize / 2;
        PillCanvas::circlePath(cr, x, frame.midY(), dotSize);
        PillCanvas::fill(cr, PillColor::withOpacity(PillColor::accent(), opacity));
    }
}

void StopButton::draw(cairo_t* cr, const Box& frame) const {
    using namespace PillLayout;
    PillCanvas::circlePath(cr, frame.midX(), frame.midY(), stopSize);
    PillCanvas::fill(cr, pressed ? PillColor::dangerTint() : PillColor::neutralDisc());
    PillCanvas::roundedPath(
        cr, {frame.midX() - stopGlyph / 2, frame.midY() - stopGlyph / 2, stopGlyph, stopGlyph},
        stopGlyphRadius, stopGlyphRadius);
    PillCanvas::fill(cr, pressed ? PillColor::danger() : PillColor::foreground());
}

std::optional<Box> PillContent::stopFrame() const {
    if (!face.stop())
        return std::nullopt;
    const double size = StopButton::frameSize;
    return Box{face.width - PillLayout::padStop - size, (PillLayout::height - size) / 2, size,
               size};
}

void PillContent::draw(cairo_t* cr, double x, double y) const {
    using namespace PillLayout;
    cairo_save(cr);
    cairo_translate(cr, x, y);
    const double midY = height / 2;
    const double trail = face.stop() ? padStop : padTrail;
    const double markWidth = PillFace::markWidth(face.mark);
    double left = padLead;
    if (face.text.kind() == PillFace::Text::Kind::label) {
        // A label row is centred between the paddings; when it is too wide the detail gives way.
        const double room = face.width - padLead - trail;
        const double row = markWidth + gap + labelWidth(face.text);
        left = padLead + std::max(0.0, (room - row) / 2);
        drawMark(cr, *this, {left, midY - height / 2, markWidth, height});
        drawLabel(cr, face.text, left + markWidth + gap, midY,
                  face.width - trail - (left + markWidth + gap));
    } else {
        drawMark(cr, *this, {left, 0, markWidth, height});
        left += markWidth + gap;
        if (face.timer) {
            const double frame =
                std::max(timerWidth(measure),
                         PillCanvas::textWidth(*face.timer, textFont(titleWeight, true)));
            PillCanvas::drawText(cr, {{*face.timer, PillColor::foreground()}},
                                 textFont(titleWeight, true), left, midY);
            left += frame + gap;
        }
        double right = face.width - trail;
        if (face.stop())
            right -= StopButton::frameSize + gap;
        const double room = std::max(0.0, right - left);
        LiveWords{face.text.liveText(), face.text.placeholder(),
                  face.liveWidth(measure).value_or(0)}
            .draw(cr, {left, 0, room, height});
    }
    if (auto frame = stopFrame())
        StopButton{*face.stopLabel, onStop, stopPressed}.draw(cr, *frame);
    cairo_restore(cr);
}

} // namespace talverin
