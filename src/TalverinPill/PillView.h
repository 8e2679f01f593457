#pragma once

#include "TalverinCore/PillState.h"
#include "TalverinPill/PillContent.h"
#include "TalverinPill/PillLang.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The content row of one state on the plain dark capsule with its hairline edge.
struct PillBody {
    PillFace face;
    std::vector<float> levels;
    bool animated = false;
    std::function<void()> onStop = [] {};

    // The body's size: the face's width by the pill's height.
    double width() const { return face.width; }
    void draw(cairo_t* cr, double x, double y) const;
};

// One state drawn by itself, as the snapshots show it; nothing for the hidden state.
struct PillView {
    PillState state = PillState::hidden();
    PillLang lang = PillLang::en;
    std::optional<std::string> microphone = std::nullopt;
    bool animated = false;
    std::function<void()> onStop = [] {};

    // The levels the static view shows: for listening the level at four fractions, oldest
    // first, so the full level drives the middle bar; none for every other state.
    static std::vector<float> levels(const PillState& state);

    // The body this view draws; none for the hidden state.
    std::optional<PillBody> body() const;
};

// The measure of the pill's layout: the pill fonts' rounded-up widths.
double pillMeasure(std::string_view text, double size, double weight, bool tabular);

} // namespace talverin
