#include "fakes/PillPresentingFake.h"

#include "Runtime/MainQueue.h"

namespace talverin::test {

namespace {

std::string flag(bool value) {
    return value ? "true" : "false";
}

} // namespace

void PillPresentingFake::setMicrophoneName(std::optional<std::string> name) {
    log.record("setMicrophoneName", name.value_or("(none)"));
    m_microphoneName = std::move(name);
}

void PillPresentingFake::show(const PillState& state, std::optional<Rect> screenFrame) {
    log.record("show", std::string(toString(state.kind())));
    m_shown.push_back({state, screenFrame, Clock::uptime()});
    m_current = state;
}

void PillPresentingFake::hide() {
    log.record("hide");
    m_current = PillState::hidden();
}

void PillPresentingFake::setShowsIdleBar(bool shows) {
    log.record("setShowsIdleBar", flag(shows));
    m_showsIdleBar = shows;
}

void PillPresentingFake::setSpot(PillSpot spot, bool animated) {
    log.record("setSpot", std::string(toString(spot)) + (animated ? " animated" : ""));
    m_spot = spot;
}

void PillPresentingFake::setMicrophoneMenu(PillMicrophoneMenu menu) {
    log.record("setMicrophoneMenu");
    m_menu = std::move(menu);
}

void PillPresentingFake::setHoldKey(HoldKey key) {
    log.record("setHoldKey", std::string(toString(key)));
    m_holdKey = key;
}

void PillPresentingFake::setHolding(bool holding) {
    log.record("setHolding", flag(holding));
    m_holding = holding;
}

void PillPresentingFake::setDragEnabled(bool enabled) {
    log.record("setDragEnabled", flag(enabled));
    m_dragEnabled = enabled;
    // Switching dragging off ends a running drag as cancelled.
    if (!enabled && m_dragging)
        endDrag();
}

void PillPresentingFake::cancelDrag() {
    log.record("cancelDrag");
    if (m_dragging)
        endDrag();
}

void PillPresentingFake::endDrag() {
    m_dragging = false;
    if (onDragChanged)
        onDragChanged(false);
}

void PillPresentingFake::click() {
    if (onClick)
        onClick();
}

void PillPresentingFake::chooseMenu(const PillMenuAction& action) {
    if (onMenu)
        onMenu(action);
}

void PillPresentingFake::pressStop() {
    if (onStop)
        onStop();
}

bool PillPresentingFake::beginDrag() {
    if (!m_dragEnabled || m_dragging)
        return false;
    m_dragging = true;
    if (onDragChanged)
        onDragChanged(true);
    return true;
}

bool PillPresentingFake::dropOn(PillSpot spot) {
    if (!m_dragging)
        return false;
    m_spot = spot;
    endDrag();
    if (onSpotChanged)
        onSpotChanged(spot);
    return true;
}

} // namespace talverin::test
