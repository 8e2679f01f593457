#include "TalverinPill/PillTimeline.h"

#include "TalverinPill/PillGeometry.h"
#include "TalverinPill/PillSpringMath.h"

#include <algorithm>

namespace talverin {
namespace {

using Content = PillStep::Content;
using PillMetrics::collapse;
using PillMetrics::drop;
using PillMetrics::morph;
constexpr std::optional<PillMetrics::Spring> still;
constexpr std::optional<PillFade> noFade;

PillStep step(double at, PillStage stage, std::optional<PillMetrics::Spring> spring, double opacity,
              std::optional<PillFade> fade, double scale,
              std::optional<PillMetrics::Spring> scaleSpring, Content content) {
    return {at, stage, spring, opacity, fade, scale, scaleSpring, content};
}

// A step that only moves and reshapes the fully shown pill.
PillStep reshape(double at, PillStage stage, std::optional<PillMetrics::Spring> spring,
                 Content content) {
    return step(at, stage, spring, 1, noFade, 1, still, content);
}

} // namespace

std::vector<PillStep> PillTimeline::show(double width, const PillStage& from, bool island,
                                         bool reduceMotion) {
    const PillStage pill = PillStage::pill(width);
    if (reduceMotion)
        return {reshape(0, pill, still, Content::state(0))};
    const auto grow = reshape(dropHold, pill, morph, Content::state(contentAfterGrow));
    if (!island && from.kind() == PillStage::Kind::none)
        return {step(0, PillStage::drop(), drop, 1, PillFade::fadeIn, 1, drop, Content::out()),
                grow};
    if (!island && (from.kind() == PillStage::Kind::bar || from.kind() == PillStage::Kind::hover))
        return {reshape(0, PillStage::drop(), drop, Content::out()), grow};
    // On the island, and from a form that is already a pill, the shape morphs directly.
    const auto fade =
        from.kind() == PillStage::Kind::none ? std::optional(PillFade::fadeIn) : noFade;
    return {step(0, pill, morph, 1, fade, 1, still, Content::state(contentAfterGrow))};
}

PillStep PillTimeline::change(double from, double to, bool reduceMotion) {
    const PillStage pill = PillStage::pill(to);
    if (reduceMotion)
        return reshape(0, pill, still, Content::state(0));
    std::optional<PillMetrics::Spring> spring;
    if (from < to)
        spring = morph;
    else if (from > to)
        spring = collapse;
    return reshape(0, pill, spring, Content::state(contentAfterChange));
}

std::vector<PillStep> PillTimeline::hide(bool idleBar, bool island, bool reduceMotion) {
    if (reduceMotion)
        return {step(0, idleBar ? PillStage::bar() : PillStage::none(), still, idleBar ? 1 : 0,
                     noFade, 1, still, Content::out())};
    if (island) {
        const auto bar = reshape(0, PillStage::bar(), collapse, Content::out());
        if (idleBar)
            return {bar};
        return {bar, step(collapseHold, PillStage::none(), still, 0, PillFade::fadeOut, 1, still,
                          Content::keep())};
    }
    const auto shrink = reshape(0, PillStage::drop(), collapse, Content::out());
    if (idleBar)
        return {shrink, reshape(collapseHold, PillStage::bar(), collapse, Content::keep())};
    return {shrink, step(collapseHold, PillStage::none(), collapse, 0, PillFade::fadeOut,
                         PillGeometry::goneScale, collapse, Content::keep())};
}

PillStep PillTimeline::idleBar(bool on, bool reduceMotion) {
    const PillStage stage = on ? PillStage::bar() : PillStage::none();
    const Content content = on ? Content::keep() : Content::out();
    if (reduceMotion)
        return step(0, stage, still, on ? 1 : 0, noFade, 1, still, content);
    return step(0, stage, collapse, on ? 1 : 0, on ? PillFade::fadeIn : PillFade::fadeOut,
                on ? 1 : PillGeometry::goneScale, collapse, content);
}

PillStep PillTimeline::hoverIn(bool reduceMotion) {
    return reshape(0, PillStage::hover(), reduceMotion ? still : morph,
                   Content::hover(reduceMotion ? 0 : hoverContentDelay));
}

PillStep PillTimeline::hoverOut(bool reduceMotion) {
    return reshape(0, PillStage::bar(), reduceMotion ? still : collapse, Content::out());
}

double PillTimeline::duration(const std::vector<PillStep>& steps) {
    double longest = 0;
    for (const PillStep& s : steps) {
        double own = s.fade ? talverin::duration(*s.fade) : 0;
        if (s.spring)
            own = std::max(own, PillSpringMath::settleTime(*s.spring));
        if (s.scaleSpring)
            own = std::max(own, PillSpringMath::settleTime(*s.scaleSpring));
        longest = std::max(longest, s.at + own);
    }
    return longest;
}

} // namespace talverin
