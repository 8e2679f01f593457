#include "TalverinPill/PillPanel.h"

#include "TalverinPill/PillBars.h"
#include "TalverinPill/PillGeometry.h"
#include "TalverinPill/PillPlacement.h"
#include "TalverinPill/PillTimeline.h"

#include <utility>

namespace talverin {
namespace {

using Kind = PillStage::Kind;

// The screen the pill stands on when the system reports none at all.
constexpr Rect standByFrame{{0, 0}, {1440, 900}};

// Outcomes are said at once; the states that last while a dictation runs wait their turn.
PillAnnouncePriority priorityOf(PillState::Kind kind) {
    switch (kind) {
    case PillState::Kind::inserted:
    case PillState::Kind::learned:
    case PillState::Kind::refused:
    case PillState::Kind::copied:
    case PillState::Kind::offline:
    case PillState::Kind::silence:
    case PillState::Kind::limit:
        return PillAnnouncePriority::high;
    default:
        return PillAnnouncePriority::normal;
    }
}

std::optional<PillAnim> springOf(const std::optional<PillMetrics::Spring>& spring) {
    return spring ? std::optional(PillAnim::spring(*spring)) : std::nullopt;
}

} // namespace

PillPanel::PillPanel(std::shared_ptr<PillModel> model, std::shared_ptr<PillWindowDriver> driver,
                     PillLang lang, PillMeasure measure)
    : m_model(std::move(model)), m_driver(std::move(driver)), m_measure(std::move(measure)),
      m_lang(lang), m_copy(lang) {
    measureWidths();
    installCallbacks();
}

PillPanel::~PillPanel() {
    m_alive.end();
}

void PillPanel::installCallbacks() {
    m_model->onStop = [alive = m_alive.token(), this] {
        if (alive && m_state.kind() == PillState::Kind::handsFree && onStop)
            onStop();
    };
    m_model->onRestPress = [alive = m_alive.token(), this] {
        if (!alive || m_press || !canRest())
            return;
        cancelDwell();
        cancelGrace();
        if (onClick)
            onClick();
    };
    m_driver->onScreensChanged = [alive = m_alive.token(), this] {
        if (alive)
            screensChanged();
    };
    m_driver->onMouse = [alive = m_alive.token(), this](const PillMouseEvent& event) {
        return alive && mouse(event);
    };
}

void PillPanel::setMicrophoneName(std::optional<std::string> name) {
    m_microphoneName = std::move(name);
}

void PillPanel::setMicrophoneMenu(PillMicrophoneMenu menu) {
    m_microphoneMenu = std::move(menu);
}

std::optional<Rect> PillPanel::screenFrame() const {
    return m_screen ? std::optional(m_screen->visibleFrame) : std::nullopt;
}

std::optional<Rect> PillPanel::screenFrame(const Rect& forWindow) const {
    return PillPlacement::visibleFrame(std::optional(forWindow), m_driver->screens());
}

std::function<std::optional<Rect>(const Rect&)> PillPanel::screenFrameLookup() const {
    return [alive = m_alive.token(), this](const Rect& forWindow) -> std::optional<Rect> {
        if (!alive)
            return std::nullopt;
        return screenFrame(forWindow);
    };
}

bool PillPanel::isIsland() const {
    return m_screen && PillGeometry::isIsland(m_spot, *m_screen);
}

PillScreen PillPanel::pointerScreen() const {
    const auto screens = m_driver->screens();
    if (auto under = PillPlacement::screen(m_driver->pointerLocation(), screens))
        return *under;
    if (!screens.empty())
        return screens.front();
    return {0, standByFrame, standByFrame, std::nullopt};
}

void PillPanel::show(const PillState& state, std::optional<Rect> screenFrame) {
    if (state.kind() == PillState::Kind::hidden) {
        hide();
        return;
    }
    auto face = PillFace::make(state, m_lang, m_microphoneName, m_measure);
    if (!face)
        return;
    endDrag(true);
    if (m_press)
        m_press->done = true;
    cancelDwell();
    cancelGrace();
    m_holding = false;

    const bool wasHidden = m_state.kind() == PillState::Kind::hidden;
    const bool changed = wasHidden || !m_face || m_face->key != face->key;
    const double oldWidth = m_face ? m_face->width : 0;
    m_state = state;
    m_face = std::move(face);
    const bool rm = reduceMotion();
    m_model->setReduceMotion(rm);

    std::vector<float> levels;
    if (state.kind() == PillState::Kind::listening)
        levels = PillBars::push(state.level(), changed ? std::vector<float>{} : m_model->levels());
    if (levels != m_model->levels())
        m_model->setLevels(std::move(levels));

    chooseScreen(screenFrame);
    m_hovering = false;

    if (wasHidden) {
        run(PillTimeline::show(m_face->width, m_stage, isIsland(), rm));
    } else if (!changed) {
        // The same content with a new payload: live words, a ticking timer.
        m_model->updateContent(*m_face);
        updateMouse();
        return;
    } else if (m_stage.kind() == Kind::pill) {
        run({PillTimeline::change(oldWidth, m_face->width, rm)});
    }
    // In a rest stage the steps still to come take the new face when they apply.
    updateMouse();
    announce(*m_face);
}

void PillPanel::announce(const PillFace& face) {
    if (face.announcement)
        m_driver->announce(*face.announcement, priorityOf(face.kind));
}

void PillPanel::chooseScreen(const std::optional<Rect>& screenFrame) {
    PillScreen chosen;
    if (!screenFrame) {
        if (m_driver->isVisible() && m_screen)
            return;
        chosen = pointerScreen();
    } else if (auto matching = PillPlacement::screen(*screenFrame, m_driver->screens())) {
        chosen = *matching;
    } else {
        chosen = {0, *screenFrame, *screenFrame, std::nullopt};
    }
    // A screen chosen for this dictation outranks the one a display took away.
    m_displacedFrom.reset();
    if (m_screen == chosen)
        return;
    m_screen = chosen;
    if (m_driver->isVisible())
        place();
}

void PillPanel::hide() {
    if (m_state.kind() == PillState::Kind::hidden)
        return;
    m_state = PillState::hidden();
    m_face.reset();
    if (!m_model->levels().empty())
        m_model->setLevels({});
    run(PillTimeline::hide(m_showsIdleBar, isIsland(), reduceMotion()));
    updateMouse();
}

void PillPanel::run(const std::vector<PillStep>& steps) {
    const std::int64_t token = ++m_sequence;
    for (const PillStep& step : steps) {
        if (step.at <= 0) {
            apply(step);
            continue;
        }
        m_driver->after(step.at, [alive = m_alive.token(), this, token, step] {
            if (alive && m_sequence == token)
                apply(step);
        });
    }
}

void PillPanel::apply(const PillStep& step) {
    // 1. A state pill always takes the width of the face shown now, which may have changed
    //    since its list was started.
    PillStage stage = step.stage;
    if (stage.kind() == Kind::pill && m_face)
        stage = PillStage::pill(m_face->width);
    if (!m_screen)
        m_screen = pointerScreen();
    const bool rm = reduceMotion();
    m_model->setReduceMotion(rm);

    // 2. The first visible step brings the window in.
    if (step.opacity > 0 && !m_driver->isVisible()) {
        place();
        m_driver->layout();
        m_driver->orderFront();
        m_driver->startMonitors();
    }

    // 3. The shape.
    m_stage = stage;
    m_model->setAlign(
        PillGeometry::contentAlign(m_spot, !m_drag && isIsland(), m_drag.has_value()));
    const PillShapeTarget target = PillGeometry::target(m_stage, m_spot, *m_screen);
    if (rm) {
        m_model->move(target, std::nullopt);
        m_model->setOpacity(step.opacity, std::nullopt);
        m_model->setScale(1, std::nullopt);
    } else {
        m_model->move(target, springOf(step.spring));
        m_model->setOpacity(step.opacity, step.fade ? std::optional(PillAnim::fade(*step.fade, 0))
                                                    : std::nullopt);
        m_model->setScale(step.scale, springOf(step.scaleSpring));
    }

    // 4. The content.
    applyContent(step.content);

    // 5. A pill that went away leaves the screen once its last animation has run, unless
    //    something newer came in the meantime.
    if (m_stage.kind() == Kind::none) {
        const std::int64_t token = m_sequence;
        const double wait = rm ? 0 : PillTimeline::duration({step}) - step.at;
        if (wait <= 0) {
            orderOutIfGone(token);
        } else {
            m_driver->after(wait + 0.05, [alive = m_alive.token(), this, token] {
                if (alive)
                    orderOutIfGone(token);
            });
        }
    }
    updateDecoration();
    updateMouse();
}

void PillPanel::applyContent(const PillStep::Content& content) {
    const double delay = reduceMotion() ? 0 : content.delay();
    switch (content.kind()) {
    case PillStep::Content::Kind::state:
        if (m_face)
            m_model->startContent(PillContentLayer::Kind::state(*m_face), delay);
        break;
    case PillStep::Content::Kind::hover:
        m_model->startContent(hoverContent(m_spot), delay);
        break;
    case PillStep::Content::Kind::out:
        m_model->clearContent();
        break;
    case PillStep::Content::Kind::keep:
        break;
    }
}

void PillPanel::orderOutIfGone(std::int64_t token) {
    if (m_sequence != token || m_stage.kind() != Kind::none ||
        m_state.kind() != PillState::Kind::hidden || m_overlay)
        return;
    m_driver->orderOut();
    m_driver->stopMonitors();
    m_model->clearContent();
}

void PillPanel::place() {
    if (!m_screen)
        return;
    const Rect frame = m_overlay ? m_screen->frame : PillGeometry::homeBox(m_spot, *m_screen);
    if (m_model->window() != frame)
        m_model->setWindow(frame);
    m_model->setAlign(
        PillGeometry::contentAlign(m_spot, !m_drag && isIsland(), m_drag.has_value()));
    m_model->settleGrab();
    m_model->move(PillGeometry::target(m_stage, m_spot, *m_screen), std::nullopt);
    if (m_driver->frame() != frame)
        m_driver->setFrame(frame);
    m_driver->layout();
    if (m_driver->isVisible())
        m_driver->display();
    updateDecoration();
}

void PillPanel::setWindowRect(const Rect& frame) {
    if (m_model->window() != frame)
        m_model->setWindow(frame);
    if (m_driver->frame() != frame)
        m_driver->setFrame(frame);
    m_driver->layout();
    if (m_driver->isVisible())
        m_driver->display();
}

void PillPanel::screensChanged() {
    endDrag(true);
    if (!m_screen)
        return;
    const auto screens = m_driver->screens();
    auto withId = [&](std::uint32_t id) {
        return std::find_if(screens.begin(), screens.end(),
                            [&](const PillScreen& s) { return s.id == id; });
    };
    // A display that went away and came back takes its pill back: it went only because it
    // had to, and a monitor that sleeps and wakes must not leave it behind on another one.
    if (const auto back = m_displacedFrom ? withId(*m_displacedFrom) : screens.end();
        back != screens.end()) {
        m_screen = *back;
        m_displacedFrom.reset();
    } else if (const auto same = withId(m_screen->id); same != screens.end()) {
        m_screen = *same;
    } else {
        // Synthetic displays have no id to know them again by.
        if (!m_displacedFrom && m_screen->id != 0)
            m_displacedFrom = m_screen->id;
        m_screen = pointerScreen();
    }
    if (!m_driver->isVisible())
        return;
    const bool droppedSnap = m_snapping;
    if (m_snapping) {
        // The snap was aiming at a frame of the old arrangement.
        ++m_snapToken;
        m_snapping = false;
        m_overlay = false;
        if (!m_model->ghosts().empty())
            m_model->setGhosts({});
        m_model->setHot(std::nullopt, false);
    }
    if (m_stage.kind() == Kind::hover && !m_drag)
        refreshHover();
    place();
    updateMouse();
    // The snap's end would have let a pill that went away under the overlay leave the screen:
    // with the snap dropped, that happens here.
    if (droppedSnap)
        leaveIfGone();
}

void PillPanel::leaveIfGone() {
    // A pill that went away while a snap held the overlay up still has to leave the screen:
    // its own order-out found the overlay up and stood aside.
    if (m_state.kind() == PillState::Kind::hidden && m_stage.kind() == Kind::none)
        orderOutIfGone(m_sequence);
}

void PillPanel::refreshHover() {
    m_model->showRest(hoverContent(m_spot), reduceMotion() ? 0 : PillTimeline::hoverContentDelay);
}

void PillPanel::setShowsIdleBar(bool shows) {
    if (shows == m_showsIdleBar)
        return;
    m_showsIdleBar = shows;
    idleBarChanged(shows);
}

void PillPanel::idleBarChanged(bool on) {
    if (!on)
        endDrag(true);
    if (m_state.kind() != PillState::Kind::hidden)
        return;
    const bool rm = reduceMotion();
    switch (m_stage.kind()) {
    case Kind::none:
        if (on)
            run({PillTimeline::idleBar(true, rm)});
        break;
    case Kind::bar:
    case Kind::hover:
        if (!on) {
            cancelDwell();
            cancelGrace();
            m_hovering = false;
            run({PillTimeline::idleBar(false, rm)});
        }
        break;
    case Kind::drop:
        // A hide is on its way down: it ends in the form the setting now asks for.
        run(PillTimeline::hide(m_showsIdleBar, isIsland(), rm));
        break;
    case Kind::pill:
        break;
    }
    updateDecoration();
    updateMouse();
}

void PillPanel::setHoldKey(HoldKey key) {
    if (key == m_holdKey)
        return;
    m_holdKey = key;
    holdKeyChanged();
}

void PillPanel::holdKeyChanged() {
    measureWidths();
    m_model->updateHover(std::string(m_copy.hoverLead()), m_copy.hoverKey(m_holdKey), m_hoverWidth);
    updateDecoration();
}

void PillPanel::measureWidths() {
    const std::string key = m_copy.hoverKey(m_holdKey);
    m_hoverWidth = PillGeometry::hoverWidth(m_copy.hoverLead(), key, m_measure);
    m_bubbleWidth = PillGeometry::bubbleWidth(m_copy.hoverLead(), key, m_measure);
}

void PillPanel::setSpot(PillSpot spot, bool animated) {
    if (spot == m_spot)
        return;
    endDrag(true);
    m_spot = spot;
    if (!m_screen || !m_driver->isVisible())
        return;
    if (m_stage.kind() == Kind::hover)
        refreshHover();
    if (animated && !reduceMotion()) {
        turnOverlayOn();
        m_model->setAlign(PillGeometry::contentAlign(m_spot, isIsland(), false));
        m_model->move(PillGeometry::target(m_stage, m_spot, *m_screen),
                      PillAnim::spring(PillMetrics::snap));
        startSnap();
    } else {
        place();
    }
    updateDecoration();
    updateMouse();
}

void PillPanel::setHolding(bool holding) {
    if (holding == m_holding)
        return;
    m_holding = holding;
    if (holding) {
        cancelDwell();
        cancelGrace();
        if (m_press)
            m_press->done = true;
        if (m_state.kind() == PillState::Kind::hidden && !m_drag) {
            m_hovering = false;
            if (m_stage.kind() == Kind::hover)
                run({PillTimeline::hoverOut(reduceMotion())});
        }
    }
    updateDecoration();
    updateMouse();
}

void PillPanel::setDragEnabled(bool enabled) {
    if (enabled == m_dragEnabled)
        return;
    m_dragEnabled = enabled;
    if (!enabled)
        endDrag(true);
}

void PillPanel::cancelDrag() {
    endDrag(true);
}

void PillPanel::cancelDwell() {
    if (!m_dwellPending)
        return;
    m_dwellPending = false;
    ++m_dwellToken;
}

void PillPanel::cancelGrace() {
    if (!m_gracePending)
        return;
    m_gracePending = false;
    ++m_graceToken;
}

PillContentLayer::Kind PillPanel::hoverContent(PillSpot spot) const {
    if (m_screen && PillGeometry::isIsland(spot, *m_screen))
        return PillContentLayer::Kind::hover(std::string(m_copy.hoverLead()),
                                             m_copy.hoverKey(m_holdKey), m_hoverWidth);
    return PillContentLayer::Kind::mic(std::string(m_copy.micButton()), PillGeometry::isSide(spot));
}

std::optional<PillBubble> PillPanel::bubble() const {
    if (!m_screen || isIsland())
        return std::nullopt;
    const Rect hover = PillGeometry::target(PillStage::hover(), m_spot, *m_screen).frame;
    return PillBubble{PillGeometry::bubbleFrame(hover, m_spot, m_bubbleWidth),
                      std::string(m_copy.hoverLead()), m_copy.hoverKey(m_holdKey),
                      PillGeometry::bubbleSlide(m_spot)};
}

void PillPanel::updateDecoration() {
    // A screen reader finds the resting pill as the button it is; a pill on its way in or out
    // is no button.
    const bool rests = m_state.kind() == PillState::Kind::hidden && !m_drag &&
                       (m_stage.kind() == Kind::bar || m_stage.kind() == Kind::hover);
    m_model->restLabel = rests ? std::string(m_copy.micButton()) : std::string();
    const bool show = m_state.kind() == PillState::Kind::hidden && m_stage.kind() == Kind::hover &&
                      m_hovering && !isIsland() && !m_drag && !m_snapping && m_driver->isVisible();
    if (const auto hint = bubble()) {
        // While the grace runs the bubble does not come back: the pointer has left the pill.
        if (show && (m_model->bubbleVisible() || !m_gracePending)) {
            m_model->setBubble(*hint);
            m_model->showBubble(true);
        } else {
            if (!m_model->bubbleVisible())
                m_model->setBubble(*hint);
            m_model->showBubble(false);
        }
    } else {
        m_model->showBubble(false);
    }
    bool micHot = false;
    if (show) {
        const Rect hover = PillGeometry::target(PillStage::hover(), m_spot, *m_screen).frame;
        micHot = PillGeometry::isOnMic(m_driver->pointerLocation(), hover);
    }
    m_model->setMicHot(micHot, true);
}

} // namespace talverin
