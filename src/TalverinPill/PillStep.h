#pragma once

#include "TalverinCore/PillMetrics.h"
#include "TalverinPill/PillFade.h"
#include "TalverinPill/PillStage.h"

#include <optional>

namespace talverin {

// One timed step of a change of the pill's shape. An absent spring or fade means the value
// changes at once.
struct PillStep {
    // What the step does to the content inside the shape.
    class Content {
    public:
        enum class Kind {
            state, // show the current state's content, fading in after the delay
            hover, // show the hover content after the delay
            keep,  // leave the content as it is
            out,   // clear the content
        };

        static Content state(double delay) { return Content(Kind::state, delay); }
        static Content hover(double delay) { return Content(Kind::hover, delay); }
        static Content keep() { return Content(Kind::keep, 0); }
        static Content out() { return Content(Kind::out, 0); }

        Kind kind() const { return m_kind; }
        double delay() const { return m_delay; } // seconds; 0 for keep and out

        bool operator==(const Content&) const = default;

    private:
        Content(Kind kind, double delay) : m_kind(kind), m_delay(delay) {}

        Kind m_kind;
        double m_delay;
    };

    double at = 0; // seconds after the start of its list
    PillStage stage = PillStage::none();
    std::optional<PillMetrics::Spring> spring; // the move and shape change
    double opacity = 0;
    std::optional<PillFade> fade; // the opacity change
    double scale = 1;
    std::optional<PillMetrics::Spring> scaleSpring; // the scale change
    Content content = Content::keep();

    bool operator==(const PillStep&) const = default;
};

} // namespace talverin
