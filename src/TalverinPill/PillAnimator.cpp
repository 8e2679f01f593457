#include "TalverinPill/PillAnimator.h"

#include "TalverinPill/PillModel.h"
#include "TalverinPill/PillOverlayViews.h"

#include <algorithm>

namespace talverin {
namespace {

std::optional<PillAnim::Animation> animationOf(const std::optional<PillAnim>& anim) {
    if (!anim)
        return std::nullopt;
    return anim->animation();
}

std::array<double, 5> lookValue(const PillLook& look) {
    return {look.size.width, look.size.height, look.topRadius, look.bottomRadius, look.islandness};
}

std::array<double, 1> one(double value) {
    return {value};
}

std::array<double, 2> bubbleOffsetOf(const PillModel& model) {
    if (model.bubbleVisible() || !model.bubble())
        return {0, 0};
    return {model.bubble()->slide.dx, model.bubble()->slide.dy};
}

bool pulses(const PillContentLayer& layer) {
    const auto* face = layer.kind.asFace();
    return face && face->mark.kind() == PillFace::Mark::Kind::dots;
}

} // namespace

PillAnimator::PillAnimator(const PillModel& model)
    : m_shape(model.shape()), m_centre({model.shape().centre.x, model.shape().centre.y}),
      m_look(lookValue(model.shape().look)), m_opacity(one(model.shape().opacity)),
      m_scale(one(model.shape().scale)), m_lift(one(model.shape().lift)),
      m_ghosts(one(model.ghostsVisible() ? 1 : 0)),
      m_bubbleOpacity(one(model.bubbleVisible() ? 1 : 0)), m_bubbleOffset(bubbleOffsetOf(model)),
      m_micHot(one(model.micHot() ? 1 : 0)), m_reduceMotion(model.reduceMotion()) {
    for (const auto& layer : model.layers())
        m_layers.push_back({layer, PillTrack1(one(1)), false});
    if (model.hot())
        m_hot[*model.hot()] = PillTrack1(one(1));
}

void PillAnimator::sync(const PillModel& model, double now) {
    const PillShapeState& shape = model.shape();
    m_shape = shape;
    m_reduceMotion = model.reduceMotion();
    m_centre.retarget({shape.centre.x, shape.centre.y}, animationOf(shape.moveAnim), now);
    m_look.retarget(lookValue(shape.look), animationOf(shape.lookAnim), now);
    m_opacity.retarget(one(shape.opacity), animationOf(shape.opacityAnim), now);
    m_scale.retarget(one(shape.scale), animationOf(shape.scaleAnim), now);
    m_lift.retarget(one(shape.lift), animationOf(shape.liftAnim), now);
    m_ghosts.retarget(one(model.ghostsVisible() ? 1 : 0), animationOf(model.ghostsAnim()), now);
    m_micHot.retarget(one(model.micHot() ? 1 : 0), animationOf(model.micAnim()), now);
    m_bubbleOpacity.retarget(one(model.bubbleVisible() ? 1 : 0), animationOf(model.bubbleAnim()),
                             now);
    m_bubbleOffset.retarget(bubbleOffsetOf(model), PillRootView::slideAnimation(model.bubbleAnim()),
                            now);
    syncHot(model, now);
    syncLayers(model, now);
}

void PillAnimator::syncHot(const PillModel& model, double now) {
    const auto how = animationOf(model.hotAnim());
    if (model.hot() && !m_hot.contains(*model.hot()))
        m_hot.emplace(*model.hot(), PillTrack1(one(0)));
    for (auto it = m_hot.begin(); it != m_hot.end();) {
        const bool hot = model.hot() == it->first;
        it->second.retarget(one(hot ? 1 : 0), how, now);
        // A spot whose highlight has faded away again is the same as one never lit.
        if (!hot && !it->second.moving(now))
            it = m_hot.erase(it);
        else
            ++it;
    }
}

void PillAnimator::syncLayers(const PillModel& model, double now) {
    const auto& present = model.layers();
    auto inModel = [&](std::int64_t id) {
        return std::find_if(present.begin(), present.end(),
                            [&](const auto& layer) { return layer.id == id; });
    };
    // 1. Layers the model no longer holds fade out from where they are; those already gone
    //    are dropped.
    const auto removal = PillShapeView::removal(true, m_reduceMotion);
    std::vector<Layer> leaving, staying;
    for (auto& shown : m_layers) {
        const auto it = inModel(shown.layer.id);
        if (it != present.end()) {
            shown.layer = *it; // a payload changes in place
            staying.push_back(std::move(shown));
            continue;
        }
        if (!shown.leaving) {
            shown.leaving = true;
            shown.opacity.retarget(one(0), removal, now);
        }
        if (shown.opacity.moving(now))
            leaving.push_back(std::move(shown));
    }
    // 2. New layers wait their delay and fade in; layers that stay keep their order, the
    //    model's.
    std::vector<Layer> next = std::move(leaving);
    for (const auto& layer : present) {
        const auto it = std::find_if(staying.begin(), staying.end(),
                                     [&](const auto& s) { return s.layer.id == layer.id; });
        if (it != staying.end()) {
            next.push_back(std::move(*it));
            continue;
        }
        Layer added{layer, PillTrack1(one(0)), false};
        added.opacity.retarget(one(1), PillShapeView::insertion(layer.delay, true, m_reduceMotion),
                               now);
        next.push_back(std::move(added));
    }
    m_layers = std::move(next);
}

PillAnimator::Frame PillAnimator::frame(double now) const {
    Frame out;
    out.shape = m_shape;
    const auto centre = m_centre.value(now);
    out.shape.centre = {centre[0], centre[1]};
    const auto look = m_look.value(now);
    out.shape.look = {{look[0], look[1]}, look[2], look[3], look[4]};
    out.shape.opacity = m_opacity.value(now)[0];
    out.shape.scale = m_scale.value(now)[0];
    out.shape.lift = m_lift.value(now)[0];
    for (const auto& shown : m_layers) {
        if (shown.leaving && !shown.opacity.moving(now))
            continue;
        out.layers.push_back(shown.layer);
        out.layerOpacity[shown.layer.id] = shown.opacity.value(now)[0];
    }
    out.ghostsOpacity = m_ghosts.value(now)[0];
    for (const auto& [spot, track] : m_hot)
        out.hotMix[spot] = track.value(now)[0];
    out.bubbleOpacity = m_bubbleOpacity.value(now)[0];
    const auto offset = m_bubbleOffset.value(now);
    out.bubbleOffset = {offset[0], offset[1]};
    out.micHotMix = m_micHot.value(now)[0];
    return out;
}

bool PillAnimator::animating(double now) const {
    return moving(now) || pulsing(now);
}

bool PillAnimator::moving(double now) const {
    const bool tracks = m_centre.moving(now) || m_look.moving(now) || m_opacity.moving(now) ||
                        m_scale.moving(now) || m_lift.moving(now) || m_ghosts.moving(now) ||
                        m_bubbleOpacity.moving(now) || m_bubbleOffset.moving(now) ||
                        m_micHot.moving(now);
    if (tracks)
        return true;
    for (const auto& [spot, track] : m_hot)
        if (track.moving(now))
            return true;
    for (const auto& shown : m_layers)
        if (shown.opacity.moving(now))
            return true;
    return false;
}

bool PillAnimator::pulsing(double now) const {
    if (m_reduceMotion || m_opacity.value(now)[0] <= 0)
        return false;
    for (const auto& shown : m_layers)
        if (!shown.leaving && pulses(shown.layer))
            return true;
    return false;
}

} // namespace talverin
