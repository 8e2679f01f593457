#include "TalverinPill/PillModel.h"

#include "TalverinPill/PillTimeline.h"

namespace talverin {

void PillModel::willChange() {
    if (onWillChange)
        onWillChange();
}

std::optional<PillAnim> PillModel::anim(std::string_view name, std::optional<PillAnim> requested) {
    m_log.push_back({std::string(name), requested});
    if (m_log.size() > logLimit)
        m_log.erase(m_log.begin(), m_log.end() - logLimit);
    if (m_reduceMotion)
        return std::nullopt;
    return requested;
}

template <typename T>
void PillModel::write(T& value, T newValue, std::optional<PillAnim>& animation,
                      std::string_view name, std::optional<PillAnim> requested) {
    if (value == newValue)
        return;
    const auto stored = anim(name, requested);
    willChange();
    animation = stored;
    value = std::move(newValue);
}

void PillModel::setWindow(const Rect& window) {
    willChange();
    m_window = window;
}

void PillModel::setLevels(std::vector<float> levels) {
    willChange();
    m_levels = std::move(levels);
}

void PillModel::setGhosts(std::vector<PillGhost> ghosts) {
    willChange();
    m_ghosts = std::move(ghosts);
}

void PillModel::setReduceMotion(bool reduceMotion) {
    willChange();
    m_reduceMotion = reduceMotion;
}

void PillModel::move(const PillShapeTarget& to, std::optional<PillAnim> requested) {
    const auto stored = anim("shape", requested);
    willChange();
    m_shape.moveAnim = stored;
    m_shape.lookAnim = stored;
    const Rect& frame = to.frame;
    m_shape.centre = {frame.minX() + m_shape.grab.x * frame.width(),
                      frame.minY() + m_shape.grab.y * frame.height()};
    m_shape.look = {frame.size, to.topRadius, to.bottomRadius, to.island ? 1.0 : 0.0};
}

void PillModel::setOpacity(double value, std::optional<PillAnim> requested) {
    write(m_shape.opacity, value, m_shape.opacityAnim, "opacity", requested);
}

void PillModel::setScale(double value, std::optional<PillAnim> requested) {
    write(m_shape.scale, value, m_shape.scaleAnim, "scale", requested);
}

void PillModel::setLift(double value, std::optional<PillAnim> requested) {
    write(m_shape.lift, value, m_shape.liftAnim, "lift", requested);
}

void PillModel::setCentre(Point centre, std::optional<PillAnim> anim) {
    write(m_shape.centre, centre, m_shape.moveAnim, "centre", anim);
}

void PillModel::setLook(const PillLook& look, std::optional<PillAnim> anim) {
    write(m_shape.look, look, m_shape.lookAnim, "look", anim);
}

void PillModel::setGrab(Point grab) {
    if (grab == m_shape.grab)
        return;
    anim("grab", std::nullopt);
    willChange();
    m_shape.grab = grab;
}

void PillModel::settleGrab() {
    constexpr Point middle{0.5, 0.5};
    if (m_shape.grab == middle)
        return;
    anim("grab", std::nullopt);
    const auto stored = anim("centre", std::nullopt);
    willChange();
    const Size size = m_shape.look.size;
    const Point origin{m_shape.centre.x - m_shape.grab.x * size.width,
                       m_shape.centre.y - m_shape.grab.y * size.height};
    m_shape.moveAnim = stored;
    m_shape.grab = middle;
    m_shape.centre = {origin.x + size.width / 2, origin.y + size.height / 2};
}

void PillModel::setAlign(PillContentAlign align) {
    if (align == m_align)
        return;
    willChange();
    m_align = align;
}

void PillModel::setHot(std::optional<PillSpot> spot, bool animated) {
    write(m_hot, spot, m_hotAnim, "hot",
          animated ? std::optional(PillAnim::colour()) : std::nullopt);
}

void PillModel::setMicHot(bool hot, bool animated) {
    write(m_micHot, hot, m_micAnim, "mic",
          animated ? std::optional(PillAnim::colour()) : std::nullopt);
}

void PillModel::showGhosts(bool visible) {
    write(m_ghostsVisible, visible, m_ghostsAnim, "ghostsVisible",
          PillAnim::fade(visible ? PillFade::fadeIn : PillFade::fadeOut, 0));
}

void PillModel::showBubble(bool visible) {
    write(m_bubbleVisible, visible, m_bubbleAnim, "bubble",
          visible ? PillAnim::fade(PillFade::fadeIn, PillTimeline::bubbleDelay)
                  : PillAnim::fade(PillFade::fadeOut, 0));
}

void PillModel::setBubble(const PillBubble& bubble) {
    if (m_bubble == bubble)
        return;
    willChange();
    m_bubble = bubble;
}

void PillModel::clearContent() {
    if (m_layers.empty())
        return;
    anim("content", PillAnim::fade(PillFade::fadeOut, 0));
    willChange();
    m_layers.clear();
}

void PillModel::startLayer(PillContentLayer::Kind kind, double delay) {
    ++m_nextLayer;
    anim("content", PillAnim::fade(PillFade::fadeIn, delay));
    willChange();
    // Earlier layers leave at once; their fade-out is the views' removal transition.
    m_layers = {PillContentLayer{m_nextLayer, std::move(kind), delay}};
}

void PillModel::replaceKind(std::size_t index, PillContentLayer::Kind kind) {
    anim("payload", std::nullopt);
    willChange();
    m_layers[index].kind = std::move(kind);
}

void PillModel::showRest(PillContentLayer::Kind kind, double delay) {
    if (!m_layers.empty() && m_layers.back().kind.holdsSameContent(kind)) {
        if (m_layers.back().kind == kind)
            return;
        replaceKind(m_layers.size() - 1, std::move(kind));
        return;
    }
    startLayer(std::move(kind), delay);
}

void PillModel::startContent(PillContentLayer::Kind kind, double delay) {
    startLayer(std::move(kind), delay);
}

void PillModel::updateContent(const PillFace& face) {
    for (std::size_t i = m_layers.size(); i-- > 0;) {
        const PillFace* shown = m_layers[i].kind.asFace();
        if (!shown || shown->key != face.key)
            continue;
        if (*shown != face)
            replaceKind(i, PillContentLayer::Kind::state(face));
        return;
    }
}

void PillModel::updateHover(std::string lead, std::string key, double width) {
    for (std::size_t i = m_layers.size(); i-- > 0;) {
        if (m_layers[i].kind.asHover()) {
            replaceKind(i, PillContentLayer::Kind::hover(std::move(lead), std::move(key), width));
            return;
        }
    }
}

} // namespace talverin
