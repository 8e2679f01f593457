// The resting pill and the pointer: hover, click, context menu, drag and snap.

#include "TalverinPill/PillPanel.h"

#include "TalverinPill/PillGeometry.h"
#include "TalverinPill/PillMenu.h"
#include "TalverinPill/PillRects.h"
#include "TalverinPill/PillSpringMath.h"
#include "TalverinPill/PillTimeline.h"

#include <algorithm>

namespace talverin {
namespace {

using Kind = PillStage::Kind;

// The content of a state pill is one line of this height, wherever the shape is taller.
constexpr double contentHeight = 44;

Point offset(Point grab, Size size) {
    return {(0.5 - grab.x) * size.width, (0.5 - grab.y) * size.height};
}

PillLook liftedLook(Size size) {
    const double radius = std::min(size.width, size.height) / 2;
    return {size, radius, radius, 0};
}

} // namespace

bool PillPanel::mouse(const PillMouseEvent& event) {
    const auto alive = m_alive.token();
    bool consumed = false;
    switch (event.kind()) {
    case PillMouseEvent::Kind::down:
        consumed = down(event.point());
        break;
    case PillMouseEvent::Kind::dragged:
        consumed = dragged(event.point());
        break;
    case PillMouseEvent::Kind::up:
        consumed = up();
        break;
    case PillMouseEvent::Kind::rightDown:
        consumed = rightDown(event.point());
        break;
    case PillMouseEvent::Kind::moved:
        consumed = moved();
        break;
    }
    // A click's callback may have taken the panel away with it.
    if (alive)
        updateMouse();
    return consumed;
}

bool PillPanel::canRest() const {
    return m_state.kind() == PillState::Kind::hidden &&
           (m_stage.kind() == Kind::bar || m_stage.kind() == Kind::hover) && !m_holding &&
           !m_snapping && !m_drag && m_driver->isVisible();
}

bool PillPanel::hitTest(Point p) const {
    if (!m_screen)
        return false;
    const PillShapeTarget target = PillGeometry::target(m_stage, m_spot, *m_screen);
    return PillGeometry::hitArea(target, *m_screen).contains(p);
}

std::optional<Rect> PillPanel::stopRect() const {
    if (!m_face || !m_face->stop() || m_stage.kind() != Kind::pill || !m_screen)
        return std::nullopt;
    const Rect target = PillGeometry::target(m_stage, m_spot, *m_screen).frame;
    // The alignment the content is drawn with: on the island that is the bottom, under the
    // housing, not the top edge of the spot.
    const PillContentAlign align =
        PillGeometry::contentAlign(m_spot, !m_drag && isIsland(), m_drag.has_value());
    const Rect content = PillGeometry::contentFrame({m_face->width, contentHeight}, target, align);
    return PillGeometry::stopRect(content);
}

void PillPanel::updateMouse() {
    const Point p = m_driver->pointerLocation();
    bool takes = false;
    if (m_drag || m_press)
        takes = true;
    else if (const auto stop = stopRect())
        takes = PillGeometry::isOnStop(p, *stop);
    else
        takes = canRest() && hitTest(p);
    if (m_driver->ignoresMouse() != !takes)
        m_driver->setIgnoresMouse(!takes);
}

void PillPanel::pointerMoved() {
    updateMouse();
    if (m_press || !canRest() || !m_screen) {
        cancelDwell();
        updateDecoration();
        return;
    }
    if (hitTest(m_driver->pointerLocation())) {
        cancelGrace();
        if (!m_hovering && !m_dwellPending) {
            m_dwellPending = true;
            const std::int64_t token = ++m_dwellToken;
            m_driver->after(PillTimeline::hoverDwell, [alive = m_alive.token(), this, token] {
                if (alive)
                    dwellCheck(token);
            });
        }
    } else {
        cancelDwell();
        if (m_hovering && !m_gracePending) {
            m_gracePending = true;
            const std::int64_t token = ++m_graceToken;
            m_driver->after(PillTimeline::hoverGrace, [alive = m_alive.token(), this, token] {
                if (alive)
                    graceCheck(token);
            });
        }
    }
    updateDecoration();
}

void PillPanel::dwellCheck(std::int64_t token) {
    if (token != m_dwellToken)
        return;
    m_dwellPending = false;
    if (m_hovering || m_press || !canRest() || !hitTest(m_driver->pointerLocation()))
        return;
    m_hovering = true;
    run({PillTimeline::hoverIn(reduceMotion())});
    updateMouse();
}

void PillPanel::graceCheck(std::int64_t token) {
    if (token != m_graceToken)
        return;
    m_gracePending = false;
    if (!m_hovering || m_press || !canRest() || hitTest(m_driver->pointerLocation()))
        return;
    m_hovering = false;
    run({PillTimeline::hoverOut(reduceMotion())});
    updateMouse();
}

bool PillPanel::down(Point p) {
    if (m_drag) {
        m_press.reset();
        endDrag(false);
        pointerMoved();
    } else if (m_press) {
        m_press.reset();
        pointerMoved();
    }
    if (!canRest() || !hitTest(p))
        return false;
    cancelDwell();
    cancelGrace();
    m_press = Press{p, false, false};
    updateMouse();
    return true;
}

bool PillPanel::dragged(Point p) {
    if (m_drag) {
        follow(p);
        return true;
    }
    if (!m_press)
        return false;
    if (m_press->moved || m_press->done)
        return true;
    if (PillRects::distance(p, m_press->start) >= PillGeometry::dragThreshold) {
        m_press->moved = true;
        if (m_dragEnabled && canRest())
            beginDrag(m_press->start, p);
    }
    return true;
}

bool PillPanel::up() {
    if (m_drag) {
        m_press.reset();
        endDrag(false);
        return true;
    }
    if (!m_press)
        return false;
    const Press press = *m_press;
    m_press.reset();
    if (!press.moved && !press.done && canRest() && onClick) {
        const auto alive = m_alive.token();
        onClick();
        if (!alive)
            return true;
    }
    pointerMoved();
    return true;
}

bool PillPanel::rightDown(Point p) {
    if (!canRest() || !hitTest(p))
        return false;
    cancelDwell();
    cancelGrace();
    m_driver->popUpMenu(PillMenu::items(m_copy, m_microphoneMenu), p,
                        [alive = m_alive.token(), this](const PillMenuAction& action) {
                            if (alive && onMenu)
                                onMenu(action);
                        });
    pointerMoved();
    return true;
}

bool PillPanel::moved() {
    if (m_drag || m_press) {
        // A drag survives the pointer leaving the window while the button is held.
        if (m_driver->isLeftButtonDown())
            return false;
        m_press.reset();
        endDrag(false);
    }
    pointerMoved();
    return false;
}

void PillPanel::turnOverlayOn() {
    if (m_overlay || !m_screen)
        return;
    m_overlay = true;
    setWindowRect(m_screen->frame);
}

void PillPanel::beginDrag(Point grabPoint, Point pointer) {
    if (!m_screen)
        return;
    cancelDwell();
    cancelGrace();
    const Rect grabbed = PillGeometry::grabbedShape(m_spot, *m_screen, m_hoverWidth);
    m_drag =
        Drag{m_spot, PillGeometry::grabFraction(grabPoint, grabbed), grabbed.size, std::nullopt};
    m_dragging = true;
    ++m_sequence; // the steps still to come belong to the pill before it was lifted
    m_stage = PillStage::hover();
    m_hovering = true;
    turnOverlayOn();

    const bool rm = reduceMotion();
    m_model->setReduceMotion(rm);
    auto ghosts = PillGeometry::ghosts(*m_screen);
    if (m_model->ghosts() != ghosts)
        m_model->setGhosts(std::move(ghosts));
    m_drag->near = nearest(pointer, std::nullopt);
    m_model->setAlign(PillContentAlign::center());
    m_model->setGrab(m_drag->grab);

    const auto lift = rm ? std::nullopt : std::optional(PillAnim::spring(PillMetrics::lift));
    m_model->setCentre(dragAnchor(pointer, m_drag->near), std::nullopt);
    m_model->setLook(liftedLook(liftedSize(m_drag->near)), lift);
    m_model->setScale(rm ? 1 : PillGeometry::liftScale, lift);
    m_model->setLift(1, lift);
    m_model->setOpacity(1, std::nullopt);
    m_model->showRest(hoverContent(m_drag->near.value_or(m_spot)),
                      rm ? 0 : PillTimeline::hoverContentDelay);
    m_model->setHot(m_drag->near, false);
    m_model->showGhosts(true);

    updateDecoration();
    updateMouse();
    if (onDragChanged)
        onDragChanged(true);
}

void PillPanel::follow(Point pointer) {
    if (!m_drag)
        return;
    const auto near = nearest(pointer, m_drag->near);
    if (near != m_drag->near) {
        const auto previous = m_drag->near;
        m_drag->near = near;
        const bool rm = reduceMotion();
        m_model->setHot(near, !rm);
        const Size size = liftedSize(near);
        if (size != liftedSize(previous)) {
            m_model->setLook(liftedLook(size),
                             rm ? std::nullopt
                                : std::optional(PillAnim::spring(PillMetrics::morph)));
            m_model->showRest(hoverContent(near.value_or(m_spot)),
                              rm ? 0 : PillTimeline::hoverContentDelay);
        }
    }
    m_model->setCentre(dragAnchor(pointer, m_drag->near), std::nullopt);
}

std::optional<PillSpot> PillPanel::nearest(Point pointer, std::optional<PillSpot> previous) const {
    if (!m_drag || !m_screen)
        return previous;
    const Point off = offset(m_drag->grab, m_drag->grabbed);
    const Point centre = PillGeometry::clampDrag({pointer.x + off.x, pointer.y + off.y},
                                                 m_drag->grabbed, m_screen->frame);
    std::vector<PillGeometry::SpotCentre> centres;
    for (const PillGhost& ghost : m_model->ghosts())
        centres.push_back({ghost.spot, PillRects::centre(ghost.target.frame)});
    return PillGeometry::nearestSpot(centre, centres, previous, PillGeometry::magnetHysteresis);
}

Point PillPanel::dragAnchor(Point pointer, std::optional<PillSpot> near) const {
    if (!m_drag || !m_screen)
        return pointer;
    const Size size = liftedSize(near);
    const Point off = offset(m_drag->grab, size);
    const Point centre =
        PillGeometry::clampDrag({pointer.x + off.x, pointer.y + off.y}, size, m_screen->frame);
    return {centre.x - off.x, centre.y - off.y};
}

Size PillPanel::liftedSize(std::optional<PillSpot> spot) const {
    return PillGeometry::liftedSize(spot, m_screen.value_or(PillScreen{}), m_hoverWidth);
}

void PillPanel::endDrag(bool cancelled) {
    if (!m_drag)
        return;
    const PillSpot origin = m_drag->origin;
    const auto near = m_drag->near;
    m_drag.reset();
    m_dragging = false;
    if (m_press)
        m_press->done = true;

    const PillSpot before = m_spot;
    m_spot = cancelled || !near ? origin : *near;
    m_stage = PillStage::hover();
    m_hovering = true;
    const bool rm = reduceMotion();
    m_model->setReduceMotion(rm);
    m_model->setAlign(PillGeometry::contentAlign(m_spot, isIsland(), false));
    if (m_screen) {
        const auto lift = rm ? std::nullopt : std::optional(PillAnim::spring(PillMetrics::lift));
        m_model->move(PillGeometry::target(PillStage::hover(), m_spot, *m_screen),
                      rm ? std::nullopt : std::optional(PillAnim::spring(PillMetrics::snap)));
        m_model->setScale(1, lift);
        m_model->setLift(0, lift);
        m_model->showRest(hoverContent(m_spot), rm ? 0 : PillTimeline::hoverContentDelay);
    }
    m_model->showGhosts(false);
    startSnap();
    updateDecoration();
    updateMouse();

    const auto alive = m_alive.token();
    const PillSpot now = m_spot;
    if (onDragChanged)
        onDragChanged(false);
    if (alive && now != before && onSpotChanged)
        onSpotChanged(now);
}

void PillPanel::startSnap() {
    m_snapping = true;
    const std::int64_t token = ++m_snapToken;
    if (reduceMotion()) {
        snapEnded(token);
        return;
    }
    m_driver->after(PillSpringMath::settleTime(PillMetrics::snap),
                    [alive = m_alive.token(), this, token] {
                        if (alive)
                            snapEnded(token);
                    });
}

void PillPanel::snapEnded(std::int64_t token) {
    if (token != m_snapToken)
        return;
    m_snapping = false;
    if (!m_model->ghosts().empty())
        m_model->setGhosts({});
    m_model->setHot(std::nullopt, false);
    if (m_overlay && m_screen) {
        m_overlay = false;
        setWindowRect(PillGeometry::homeBox(m_spot, *m_screen));
    }
    if (m_state.kind() == PillState::Kind::hidden) {
        m_model->settleGrab();
        if (m_stage.kind() == Kind::hover) {
            m_hovering = true;
            if (!(canRest() && hitTest(m_driver->pointerLocation()))) {
                m_gracePending = true;
                const std::int64_t grace = ++m_graceToken;
                m_driver->after(PillTimeline::hoverGrace, [alive = m_alive.token(), this, grace] {
                    if (alive)
                        graceCheck(grace);
                });
            }
        } else {
            leaveIfGone();
        }
    }
    updateDecoration();
    updateMouse();
}

} // namespace talverin
