#pragma once

#include "TalverinPill/PillCanvas.h"
#include "TalverinPill/PillFace.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The painters of one state's content: the row of mark, timer, words and stop button, and the
// small parts it is made of. Each holds values only and draws into a frame it is given; drawing
// is in the dark palette whatever the desktop's appearance.
namespace talverin {

// The live transcript: the newest word in the foreground colour, the earlier ones muted, the
// oldest dropped (and, if still too wide, cut at the start) so the newest stay in view.
struct LiveWords {
    std::string text;
    std::string placeholder;
    double width = 0; // points available

    void draw(cairo_t* cr, const PillCanvas::Box& frame) const;
};

// The level meter: seven capsules centred in a 39 x 20 frame.
struct LevelBars {
    std::vector<float> levels; // oldest first

    static constexpr double frameWidth = 39;
    static constexpr double frameHeight = 20;
    void draw(cairo_t* cr, const PillCanvas::Box& frame) const;
};

// Three dots; pulsing at `time` (seconds since 2001-01-01 UTC) when animated, else at fixed
// opacities.
struct PulsingDots {
    bool animated = false;
    double time = 0;

    void draw(cairo_t* cr, const PillCanvas::Box& frame) const;
};

// The hands-free stop button: a disc with a rounded square, both red while held down.
struct StopButton {
    std::string label; // what a screen reader says
    std::function<void()> action = [] {};
    bool pressed = false;

    static constexpr double frameSize = 32;
    void draw(cairo_t* cr, const PillCanvas::Box& frame) const;
};

// The content row of one state, framed to the face's width and the pill's height.
struct PillContent {
    PillFace face;
    std::vector<float> levels;
    bool animated = false;
    std::function<void()> onStop = [] {};
    bool reduceMotion = false;
    bool stopPressed = false;
    double time = 0; // for the pulsing dots

    // Draws the row with its frame's top-left corner at (x, y).
    void draw(cairo_t* cr, double x, double y) const;
    // Where the stop button sits in the row, for the window's hit testing; none without one.
    std::optional<PillCanvas::Box> stopFrame() const;
};

} // namespace talverin
