#pragma once

#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillAnim.h"
#include "TalverinPill/PillBubble.h"
#include "TalverinPill/PillCanvas.h"
#include "TalverinPill/PillContentAlign.h"
#include "TalverinPill/PillContentLayer.h"
#include "TalverinPill/PillShapeState.h"
#include "TalverinPill/PillShapeTarget.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The painters of the live overlay: the pill shape with its content layers, the drop-spot
// ghosts and the hint bubble. They draw one moment; the window driver runs the animations the
// model stores beside each value and hands the painters the values of the moment. Drawing
// coordinates have y growing downwards.
namespace talverin {

class PillModel;

// Where a screen point (y up) lands in a window whose screen frame is `window` (y down).
Point toWindow(Point screen, const Rect& window);

// Moves the shape so the point of it at the fractions `grab` (x from the left, y from the
// bottom) lies on the shape's centre: a size change grows around the point the user holds.
struct PillGrabOffset {
    Size size;
    Point grab{0.5, 0.5};

    // The offset in drawing coordinates.
    Point offset() const;
};

// The hover hint: "Hold" and the key's name on a key cap.
struct PillHoverContent {
    std::string lead;
    std::string key;

    void draw(cairo_t* cr, const PillCanvas::Box& frame) const;
};

// The resting pill's hands-free button: a microphone on a disc, accented while hot.
struct PillMicContent {
    std::string label;
    Size size{64, 44};
    bool hot = false;
    std::optional<PillAnim> hotAnim = std::nullopt;
    std::function<void()> onPress = [] {};

    struct MicGlyph {
        // Traces the microphone outline for a rectangle: head, holder and stand.
        static void path(cairo_t* cr, const PillCanvas::Box& rect);
    };
    void draw(cairo_t* cr, const PillCanvas::Box& frame) const;
};

// The hint bubble beside the resting pill.
struct PillBubbleView {
    PillBubble bubble;
    // Off where nothing composites the window: a soft shadow there is a dark smear.
    bool shadow = true;

    // Draws the bubble centred on `centre`.
    void draw(cairo_t* cr, Point centre) const;
};

// A drop spot's ghost while dragging, accented when it is the spot the pill would land in.
struct PillGhostView {
    PillShapeTarget target;
    bool hot = false;
    std::optional<PillAnim> hotAnim = std::nullopt;

    void draw(cairo_t* cr, Point centre) const;
};

// The pill shape: lift shadow, base, body, content layers and border, scaled and faded.
struct PillShapeView {
    PillShapeState shape;
    std::vector<PillContentLayer> layers = {};
    PillContentAlign align = PillContentAlign::center();
    std::vector<float> levels = {};
    bool animated = false;
    bool reduceMotion = false;
    std::function<void()> onStop = [] {};
    bool micHot = false;
    std::optional<PillAnim> micAnim = std::nullopt;
    std::function<void()> onRestPress = [] {};
    // The opacity of each layer at this moment of its cross-fade; all opaque by default.
    std::function<double(std::int64_t id)> layerOpacity = [](std::int64_t) { return 1.0; };
    double time = 0;          // for the pulsing dots
    bool stopPressed = false; // the hands-free stop button is held down
    // The base and lift shadows; off where nothing composites the window, which then shows
    // only the opaque body.
    bool shadows = true;

    // The frame a layer's content takes.
    static Size layerSize(const PillContentLayer::Kind& kind);
    // The point the shape scales about: its top centre once it is more island than pill.
    static Point scaleAnchor(const PillLook& look, Point centre);
    // How a change of the layer list animates, and how a layer fades in after its delay and
    // out; none with motion off or reduced.
    static std::optional<PillAnim::Animation> listAnimation(bool animated, bool reduceMotion);
    static std::optional<PillAnim::Animation> insertion(double delay, bool animated,
                                                        bool reduceMotion);
    static std::optional<PillAnim::Animation> removal(bool animated, bool reduceMotion);

    // Draws the shape centred on `centre`.
    void draw(cairo_t* cr, Point centre) const;
};

// The whole overlay of a model at one moment, in its window's coordinates.
struct PillRootView {
    const PillModel& model;
    double time = 0;

    // The bubble's slide: the morph spring after a fade-in's delay, a short ease for a
    // fade-out, none otherwise.
    static std::optional<PillAnim::Animation> slideAnimation(const std::optional<PillAnim>& anim);

    void draw(cairo_t* cr) const;
};

} // namespace talverin
