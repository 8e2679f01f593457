#pragma once

#include "TalverinCore/PillMetrics.h"
#include "TalverinCore/ThemeTokens.h"
#include "TalverinPill/PillFade.h"

namespace talverin {

// How the views are to apply one change of the overlay: a spring, a fade, or a short colour
// change.
class PillAnim {
public:
    enum class Kind { spring, fade, colour };

    // What the drawing does over time: a spring, or a timing curve over a duration after a
    // delay.
    struct Animation {
        enum class Type { spring, curve };

        Type type = Type::curve;
        PillMetrics::Spring spring; // spring
        double blendDuration = 0;   // spring
        ThemeTokens::Curve curve;   // curve
        double duration = 0;        // curve, seconds
        double delay = 0;           // seconds
    };

    static PillAnim spring(PillMetrics::Spring spring) {
        return PillAnim(Kind::spring, spring, PillFade::fadeIn, 0);
    }
    // A fade that starts `delay` seconds after the change.
    static PillAnim fade(PillFade fade, double delay) {
        return PillAnim(Kind::fade, {}, fade, delay);
    }
    static PillAnim colour() { return PillAnim(Kind::colour, {}, PillFade::fadeIn, 0); }

    Kind kind() const { return m_kind; }
    const PillMetrics::Spring& springValue() const { return m_spring; } // spring
    PillFade fadeValue() const { return m_fade; }                       // fade
    double delay() const { return m_delay; }                            // fade

    Animation animation() const;

    bool operator==(const PillAnim&) const = default;

private:
    PillAnim(Kind kind, PillMetrics::Spring spring, PillFade fade, double delay)
        : m_kind(kind), m_spring(spring), m_fade(fade), m_delay(delay) {}

    Kind m_kind;
    PillMetrics::Spring m_spring;
    PillFade m_fade;
    double m_delay;
};

} // namespace talverin
