#pragma once

#include "Runtime/Liveness.h"
#include "Talverin/Dictation/DictationTiming.h"
#include "TalverinCore/DictationContext.h"
#include "TalverinCore/PillPresenting.h"
#include "TalverinCore/PillState.h"
#include "TalverinCore/ScreenGeometry.h"

#include <functional>
#include <memory>
#include <optional>

namespace talverin {

// The pill as the dictation drives it. Every state pushed and every hide moves a generation,
// so a result's delayed hide runs only when nothing has replaced it: result pills are
// superseded, never cancelled. Main thread.
class DictationPill {
public:
    using ScreenFrame = std::function<std::optional<Rect>(const Rect& windowFrame)>;

    DictationPill(std::shared_ptr<PillPresenting> pill, ScreenFrame screenFrame,
                  const DictationTiming& timing)
        : m_pill(std::move(pill)), m_screenFrame(std::move(screenFrame)), m_timing(timing) {}
    DictationPill(const DictationPill&) = delete;
    DictationPill& operator=(const DictationPill&) = delete;

    void show(const PillState& state, std::optional<Rect> frame);
    void hide();
    // Shows a result state and hides it after its hold time, unless the pill was given
    // anything else meanwhile.
    void showResult(const PillState& state, std::optional<Rect> frame);
    // The screen of the field's window; none when the window is not known.
    std::optional<Rect> screenOf(const std::optional<DictationContext>& context) const;

private:
    const std::shared_ptr<PillPresenting> m_pill;
    const ScreenFrame m_screenFrame;
    const DictationTiming m_timing;
    int m_generation = 0;
    Liveness m_alive;
};

} // namespace talverin
