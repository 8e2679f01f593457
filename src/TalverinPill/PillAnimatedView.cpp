#include "TalverinPill/PillAnimatedView.h"

#include "TalverinPill/PillModel.h"
#include "TalverinPill/PillOverlayViews.h"

#include <algorithm>
#include <functional>

namespace talverin {
namespace {

// Draws what `plain` draws turned `mix` of the way to what `lit` draws. Both are drawn
// opaque-weighted and added, which blends their premultiplied colours linearly: a colour
// change, not one picture fading over the other.
void drawMixed(cairo_t* cr, double mix, const std::function<void(cairo_t*)>& plain,
               const std::function<void(cairo_t*)>& lit) {
    if (mix <= 0) {
        plain(cr);
        return;
    }
    if (mix >= 1) {
        lit(cr);
        return;
    }
    cairo_push_group(cr);
    cairo_push_group(cr);
    plain(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, 1 - mix);
    cairo_push_group(cr);
    lit(cr);
    cairo_pop_group_to_source(cr);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_ADD);
    cairo_paint_with_alpha(cr, mix);
    cairo_restore(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint(cr);
}

void withOpacity(cairo_t* cr, double opacity, const std::function<void(cairo_t*)>& draw) {
    if (opacity <= 0)
        return;
    cairo_push_group(cr);
    draw(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, std::min(opacity, 1.0));
}

} // namespace

void PillAnimatedView::draw(cairo_t* cr) const {
    const Rect& window = model.window();
    withOpacity(cr, frame.ghostsOpacity, [&](cairo_t* c) {
        for (const auto& ghost : model.ghosts()) {
            const auto it = frame.hotMix.find(ghost.spot);
            const double mix = it == frame.hotMix.end() ? 0 : it->second;
            const Point centre =
                toWindow({ghost.target.frame.midX(), ghost.target.frame.midY()}, window);
            drawMixed(
                c, mix,
                [&](cairo_t* g) {
                    PillGhostView{ghost.target, false}.draw(g, centre);
                },
                [&](cairo_t* g) {
                    PillGhostView{ghost.target, true}.draw(g, centre);
                });
        }
    });
    if (model.bubble()) {
        const PillBubble& bubble = *model.bubble();
        const Point centre = toWindow({bubble.frame.midX() + frame.bubbleOffset.x,
                                       bubble.frame.midY() + frame.bubbleOffset.y},
                                      window);
        withOpacity(cr, frame.bubbleOpacity, [&](cairo_t* c) {
            PillBubbleView{bubble, shadows}.draw(c, centre);
        });
    }

    const PillShapeState& shape = frame.shape;
    if (shape.opacity <= 0)
        return;
    auto layerOpacity = [&](std::int64_t id) {
        const auto it = frame.layerOpacity.find(id);
        return it == frame.layerOpacity.end() ? 1.0 : it->second;
    };
    const Point at = toWindow(shape.centre, window);
    const Point grab = PillGrabOffset{shape.look.size, shape.grab}.offset();
    auto drawShape = [&](cairo_t* c, bool micHot) {
        PillShapeView view{shape,
                           frame.layers,
                           model.align(),
                           model.levels(),
                           true,
                           model.reduceMotion(),
                           model.onStop ? model.onStop : [] {},
                           micHot,
                           std::nullopt,
                           model.onRestPress ? model.onRestPress : [] {}};
        view.layerOpacity = layerOpacity;
        view.time = time;
        view.stopPressed = stopPressed;
        view.shadows = shadows;
        view.draw(c, {at.x + grab.x, at.y + grab.y});
    };
    drawMixed(
        cr, frame.micHotMix, [&](cairo_t* c) { drawShape(c, false); },
        [&](cairo_t* c) { drawShape(c, true); });
}

} // namespace talverin
