#pragma once

#include "TalverinCore/PillSpot.h"
#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillContentLayer.h"
#include "TalverinPill/PillShapeState.h"
#include "TalverinPill/PillTrack.h"

#include <cstdint>
#include <map>
#include <vector>

namespace talverin {

class PillModel;

// Turns the model's values and the animations stored beside them into what the overlay shows
// at each instant. Every change of a value starts from what is presented at that moment, so a
// motion that is interrupted carries on towards the new value. The presented overlay is a pure
// function of the time the frame is drawn for; nothing here reads a clock. Main thread only.
class PillAnimator {
public:
    // The overlay as presented at one instant, in screen coordinates like the model's.
    struct Frame {
        // The model's shape with centre, look, opacity, scale and lift as presented.
        PillShapeState shape;
        // The layers drawn: those leaving, still fading out, then the model's own.
        std::vector<PillContentLayer> layers;
        std::map<std::int64_t, double> layerOpacity;
        double ghostsOpacity = 0;
        // How far each ghost's colour has turned to the highlight, 0 to 1.
        std::map<PillSpot, double> hotMix;
        double bubbleOpacity = 0;
        // Where the bubble sits relative to its frame, in screen coordinates (y up).
        Point bubbleOffset;
        double micHotMix = 0;
    };

    // Starts showing the model's present values, with nothing in motion.
    explicit PillAnimator(const PillModel& model);

    // Takes the model's present values as the new targets at `now`; a value that changed moves
    // there with the animation the model stored for it.
    void sync(const PillModel& model, double now);
    Frame frame(double now) const;
    // Whether anything still moves at `now`; when not, frames are not needed until the model
    // changes again. The polishing dots pulse for as long as they are on show.
    bool animating(double now) const;
    // Whether a value is on its way (a spring, a fade, a colour): each frame of the display
    // shows a new step.
    bool moving(double now) const;
    // Whether the polishing dots pulse on a visible pill: they need frames too, but their
    // slow pulse looks the same at 30 a second.
    bool pulsing(double now) const;

private:
    struct Layer {
        PillContentLayer layer;
        PillTrack1 opacity;
        bool leaving = false;
    };

    void syncLayers(const PillModel& model, double now);
    void syncHot(const PillModel& model, double now);

    PillShapeState m_shape;
    PillTrack2 m_centre;
    PillTrack<5> m_look; // width, height, top radius, bottom radius, islandness
    PillTrack1 m_opacity;
    PillTrack1 m_scale;
    PillTrack1 m_lift;
    std::vector<Layer> m_layers; // leaving ones first, in the order they were shown
    PillTrack1 m_ghosts;
    std::map<PillSpot, PillTrack1> m_hot;
    PillTrack1 m_bubbleOpacity;
    PillTrack2 m_bubbleOffset;
    PillTrack1 m_micHot;
    bool m_reduceMotion = false;
};

} // namespace talverin
