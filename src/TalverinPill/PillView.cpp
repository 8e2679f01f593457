#include "TalverinPill/PillView.h"

#include "TalverinPill/PillColor.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillLayout.h"

namespace talverin {

double pillMeasure(std::string_view text, double size, double weight, bool tabular) {
    return PillFonts::width(text, size, weight, tabular);
}

void PillBody::draw(cairo_t* cr, double x, double y) const {
    const PillCanvas::Box box{x, y, face.width, PillLayout::height};
    PillCanvas::capsulePath(cr, box);
    PillCanvas::fill(cr, PillColor::background());
    PillContent{face, levels, animated, onStop}.draw(cr, x, y);
    const double radius = PillLayout::height / 2;
    PillCanvas::strokeInside(cr, box, radius, radius, 1, PillColor::edge());
}

std::vector<float> PillView::levels(const PillState& state) {
    if (state.kind() != PillState::Kind::listening)
        return {};
    const float level = state.level();
    return {0.35f * level, 0.6f * level, 0.8f * level, level};
}

std::optional<PillBody> PillView::body() const {
    auto face = PillFace::make(state, lang, microphone, pillMeasure);
    if (!face)
        return std::nullopt;
    return PillBody{*face, levels(state), animated, onStop};
}

} // namespace talverin
