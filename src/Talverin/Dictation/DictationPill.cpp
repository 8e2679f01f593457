#include "Talverin/Dictation/DictationPill.h"

#include "Talverin/Dictation/LiveCallbacks.h"

namespace talverin {

void DictationPill::show(const PillState& state, std::optional<Rect> frame) {
    ++m_generation;
    m_pill->show(state, frame);
}

void DictationPill::hide() {
    ++m_generation;
    m_pill->hide();
}

void DictationPill::showResult(const PillState& state, std::optional<Rect> frame) {
    show(state, frame);
    const int generation = m_generation;
    runAfter(m_alive, m_timing.resultHoldFor(state.kind()), [this, generation] {
        if (m_generation == generation)
            hide();
    });
}

std::optional<Rect> DictationPill::screenOf(const std::optional<DictationContext>& context) const {
    if (!context || !context->windowFrame)
        return std::nullopt;
    return m_screenFrame(*context->windowFrame);
}

} // namespace talverin
