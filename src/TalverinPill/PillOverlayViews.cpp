#include "TalverinPill/PillOverlayViews.h"

#include "TalverinPill/PillColor.h"
#include "TalverinPill/PillContent.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillLayout.h"
#include "TalverinPill/PillModel.h"

#include <algorithm>
#include <cmath>

namespace talverin {
namespace {

using PillCanvas::Box;

constexpr double keyCapHeight = 18;
constexpr double keyCapPad = 6;
constexpr double keyCapRadius = 5;
constexpr double hoverGap = 6;
constexpr double micDisc = 32;
constexpr double micGlyph = 16;
constexpr double stateHeight = 44;
constexpr double hoverHeight = 28;

PillCanvas::Shadow shadowOf(double opacity, double radius, double dy) {
    return {{0, 0, 0, opacity}, radius, 0, dy};
}

PillAnim::Animation curve(double duration, double delay = 0) {
    PillAnim::Animation animation;
    animation.type = PillAnim::Animation::Type::curve;
    animation.curve = PillMetrics::ease;
    animation.duration = duration;
    animation.delay = delay;
    return animation;
}

Box centredBox(Point centre, Size size) {
    return {centre.x - size.width / 2, centre.y - size.height / 2, size.width, size.height};
}

// The key cap of the hint texts, its left edge at `x`; answers its width.
double drawKeyCap(cairo_t* cr, std::string_view key, double x, double midY) {
    const auto font = PillFonts::font(12, 600, false);
    const double width = PillCanvas::textWidth(key, font) + 2 * keyCapPad;
    PillCanvas::roundedPath(cr, {x, midY - keyCapHeight / 2, width, keyCapHeight}, keyCapRadius,
                            keyCapRadius);
    PillCanvas::fill(cr, PillColor::neutralDisc());
    PillCanvas::drawText(cr, {{key, PillColor::foreground()}}, font, x + keyCapPad, midY);
    return width;
}

double keyCapWidth(std::string_view key) {
    return PillCanvas::textWidth(key, PillFonts::font(12, 600, false)) + 2 * keyCapPad;
}

// Places a frame of `size` inside `box` as the alignment says.
Box aligned(const Box& box, Size size, const PillContentAlign& align) {
    using H = PillContentAlign::Horizontal;
    using V = PillContentAlign::Vertical;
    double x = box.midX() - size.width / 2;
    if (align.horizontal == H::leading)
        x = box.x;
    else if (align.horizontal == H::trailing)
        x = box.x + box.width - size.width;
    double y = box.midY() - size.height / 2;
    if (align.vertical == V::top)
        y = box.y;
    else if (align.vertical == V::bottom)
        y = box.y + box.height - size.height;
    return {x, y, size.width, size.height};
}

} // namespace

Point toWindow(Point screen, const Rect& window) {
    return {screen.x - window.minX(), window.maxY() - screen.y};
}

Point PillGrabOffset::offset() const {
    // Drawing coordinates grow downwards, the grab's fractions upwards: hence the sign of y.
    return {size.width * (0.5 - grab.x), -(size.height * (0.5 - grab.y))};
}

void PillHoverContent::draw(cairo_t* cr, const Box& frame) const {
    const auto font = PillFonts::font(12.5, 500, false);
    const double leadWidth = PillCanvas::textWidth(lead, font);
    const double row = leadWidth + hoverGap + keyCapWidth(key);
    double x = frame.midX() - row / 2;
    PillCanvas::drawText(cr, {{lead, PillColor::hint()}}, font, x, frame.midY());
    x += leadWidth + hoverGap;
    drawKeyCap(cr, key, x, frame.midY());
}

void PillMicContent::MicGlyph::path(cairo_t* cr, const Box& rect) {
    const double u = rect.width / 16;
    auto at = [&](double x, double y) { return Point{rect.x + x * u, rect.y + y * u}; };
    const Point head = at(5.5, 1.5);
    PillCanvas::roundedPath(cr, {head.x, head.y, 5 * u, 8 * u}, 2.5 * u, 2.5 * u);
    const Point start = at(3, 7.5);
    const Point centre = at(8, 7.5);
    cairo_new_sub_path(cr);
    cairo_move_to(cr, start.x, start.y);
    // From the left, under the head, to the right: y grows downwards, so that is a sweep
    // from pi back to 0 through pi/2.
    cairo_arc_negative(cr, centre.x, centre.y, 5 * u, M_PI, 0);
    const Point stand = at(8, 12.5);
    const Point foot = at(8, 14.5);
    cairo_move_to(cr, stand.x, stand.y);
    cairo_line_to(cr, foot.x, foot.y);
}

void PillMicContent::draw(cairo_t* cr, const Box& frame) const {
    const Box inner = centredBox({frame.midX(), frame.midY()}, size);
    PillCanvas::circlePath(cr, inner.midX(), inner.midY(), micDisc);
    PillCanvas::fill(cr, hot ? PillColor::micHot() : PillColor::micDisc());
    cairo_save(cr);
    MicGlyph::path(cr, centredBox({inner.midX(), inner.midY()}, {micGlyph, micGlyph}));
    cairo_set_line_width(cr, 1.75);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    PillCanvas::setColour(cr, PillColor::white());
    cairo_stroke(cr);
    cairo_restore(cr);
}

void PillBubbleView::draw(cairo_t* cr, Point centre) const {
    const Box box = centredBox(centre, bubble.frame.size);
    if (shadow)
        PillCanvas::shadow(
            cr, [&](cairo_t* c) { PillCanvas::capsulePath(c, box); }, shadowOf(0.35, 4, 2));
    PillCanvas::capsulePath(cr, box);
    PillCanvas::fill(cr, PillColor::background());
    const auto font = PillFonts::font(13.5, 500, false);
    const double leadWidth = PillCanvas::textWidth(bubble.lead, font);
    const double row = leadWidth + hoverGap + keyCapWidth(bubble.key);
    const double x = box.midX() - row / 2;
    PillCanvas::drawText(cr, {{bubble.lead, PillColor::white()}}, font, x, box.midY());
    drawKeyCap(cr, bubble.key, x + leadWidth + hoverGap, box.midY());
    const double radius = std::min(box.width, box.height) / 2;
    PillCanvas::strokeInside(cr, box, radius, radius, 1, PillColor::edge());
}

void PillGhostView::draw(cairo_t* cr, Point centre) const {
    const Box box = centredBox(centre, target.frame.size);
    PillCanvas::roundedPath(cr, box, target.topRadius, target.bottomRadius);
    PillCanvas::fill(cr, hot ? PillColor::ghostHotFill() : PillColor::ghostFill());
    PillCanvas::strokeInside(cr, box, target.topRadius, target.bottomRadius, 1.5,
                             hot ? PillColor::ghostHotLine() : PillColor::ghostLine(), {4, 3});
}

Size PillShapeView::layerSize(const PillContentLayer::Kind& kind) {
    if (const auto* face = kind.asFace())
        return {face->width, stateHeight};
    if (const auto* hover = kind.asHover())
        return {hover->width, hoverHeight};
    const auto* mic = kind.asMic();
    return mic && mic->upright ? Size{44, 64} : Size{64, 44};
}

Point PillShapeView::scaleAnchor(const PillLook& look, Point centre) {
    if (look.islandness > 0.5)
        return {centre.x, centre.y - look.size.height / 2};
    return centre;
}

std::optional<PillAnim::Animation> PillShapeView::listAnimation(bool animated, bool reduceMotion) {
    if (!animated || reduceMotion)
        return std::nullopt;
    return curve(PillMetrics::fadeIn);
}

std::optional<PillAnim::Animation> PillShapeView::insertion(double delay, bool animated,
                                                            bool reduceMotion) {
    if (!animated || reduceMotion)
        return std::nullopt;
    return curve(PillMetrics::fadeIn, delay);
}

std::optional<PillAnim::Animation> PillShapeView::removal(bool animated, bool reduceMotion) {
    if (!animated || reduceMotion)
        return std::nullopt;
    return curve(PillMetrics::fadeOut);
}

void PillShapeView::draw(cairo_t* cr, Point centre) const {
    const PillLook& look = shape.look;
    const Box box = centredBox(centre, look.size);
    const double plain = 1 - look.islandness;
    auto outline = [&](cairo_t* c) {
        PillCanvas::roundedPath(c, box, look.topRadius, look.bottomRadius);
    };
    cairo_save(cr);
    const Point anchor = scaleAnchor(look, centre);
    cairo_translate(cr, anchor.x, anchor.y);
    cairo_scale(cr, shape.scale, shape.scale);
    cairo_translate(cr, -anchor.x, -anchor.y);
    cairo_push_group(cr);

    if (shape.lift > 0) {
        cairo_push_group(cr);
        if (shadows)
            PillCanvas::shadow(cr, outline, shadowOf(0.55, 24, 18));
        outline(cr);
        PillCanvas::fill(cr, PillColor::island());
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, std::min(shape.lift, 1.0));
    }
    if (shadows)
        PillCanvas::shadow(cr, outline, shadowOf(0.35 * plain, 4, 2));
    outline(cr);
    PillCanvas::fill(cr, PillColor::island());
    outline(cr);
    PillCanvas::fill(cr, PillColor::withOpacity(PillColor::background(), plain));

    cairo_save(cr);
    outline(cr);
    cairo_clip(cr);
    for (const auto& layer : layers) {
        const Box frame = aligned(box, layerSize(layer.kind), align);
        cairo_push_group(cr);
        if (const auto* face = layer.kind.asFace()) {
            PillContent content{*face, levels, animated, onStop};
            content.reduceMotion = reduceMotion;
            content.time = time;
            content.stopPressed = stopPressed;
            content.draw(cr, frame.x, frame.y);
        } else if (const auto* hover = layer.kind.asHover()) {
            PillHoverContent{hover->lead, hover->key}.draw(cr, frame);
        } else if (const auto* mic = layer.kind.asMic()) {
            PillMicContent content{mic->label, layerSize(layer.kind), micHot,
                                   animated ? micAnim : std::nullopt, onRestPress};
            content.draw(cr, frame);
        }
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, std::clamp(layerOpacity(layer.id), 0.0, 1.0));
    }
    cairo_restore(cr);

    PillCanvas::strokeInside(cr, box, look.topRadius, look.bottomRadius, 1,
                             PillColor::withOpacity(PillColor::edge(), plain));
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, std::clamp(shape.opacity, 0.0, 1.0));
    cairo_restore(cr);
}

std::optional<PillAnim::Animation>
PillRootView::slideAnimation(const std::optional<PillAnim>& anim) {
    if (!anim || anim->kind() != PillAnim::Kind::fade)
        return std::nullopt;
    if (anim->fadeValue() == PillFade::fadeOut)
        return curve(PillMetrics::fadeOut);
    PillAnim::Animation spring;
    spring.type = PillAnim::Animation::Type::spring;
    spring.spring = PillMetrics::morph;
    spring.blendDuration = 0;
    spring.delay = anim->delay();
    return spring;
}

void PillRootView::draw(cairo_t* cr) const {
    const Rect& window = model.window();
    if (model.ghostsVisible()) {
        for (const auto& ghost : model.ghosts()) {
            const bool hot = model.hot() && *model.hot() == ghost.spot;
            PillGhostView{ghost.target, hot, model.hotAnim()}.draw(
                cr, toWindow({ghost.target.frame.midX(), ghost.target.frame.midY()}, window));
        }
    }
    // A hidden bubble waits at its slide offset, transparent, so nothing of it shows.
    if (model.bubble() && model.bubbleVisible()) {
        const auto& bubble = *model.bubble();
        PillBubbleView{bubble}.draw(cr,
                                    toWindow({bubble.frame.midX(), bubble.frame.midY()}, window));
    }
    const auto& shape = model.shape();
    PillShapeView view{shape,
                       model.layers(),
                       model.align(),
                       model.levels(),
                       true,
                       model.reduceMotion(),
                       model.onStop ? model.onStop : [] {},
                       model.micHot(),
                       model.micAnim(),
                       model.onRestPress ? model.onRestPress : [] {}};
    view.time = time;
    const Point centre = toWindow(shape.centre, window);
    const Point grab = PillGrabOffset{shape.look.size, shape.grab}.offset();
    view.draw(cr, {centre.x + grab.x, centre.y + grab.y});
}

} // namespace talverin
