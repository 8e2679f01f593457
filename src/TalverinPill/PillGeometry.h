#pragma once

#include "TalverinCore/PillSpot.h"
#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillContentAlign.h"
#include "TalverinPill/PillGhost.h"
#include "TalverinPill/PillHitArea.h"
#include "TalverinPill/PillMeasure.h"
#include "TalverinPill/PillScreen.h"
#include "TalverinPill/PillShapeTarget.h"
#include "TalverinPill/PillStage.h"
#include "TalverinPill/PillVector.h"

#include <optional>
#include <string_view>
#include <vector>

namespace talverin {

// The side of the pill on which the hint bubble sits.
enum class PillBubblePlacement { above, below, right, left };

// The hover hint of the resting pill: a lead text ("Hold") and a key cap.
namespace PillHoverMetrics {
inline constexpr double padding = 12;
inline constexpr double leadSize = 12.5;
inline constexpr double leadWeight = 500;
inline constexpr double keyGap = 6;
inline constexpr double keyPadding = 6;
inline constexpr double keySize = 12;
inline constexpr double keyWeight = 600;
inline constexpr double keyHeight = 18;
inline constexpr double keyRadius = 5;
} // namespace PillHoverMetrics

// The microphone button of the resting pill.
namespace PillMicMetrics {
inline constexpr double micSize = 32;
inline constexpr double glyphSize = 16;
inline constexpr double glyphLine = 1.75;
} // namespace PillMicMetrics

// The hint bubble beside the pill.
namespace PillBubbleMetrics {
inline constexpr double height = 36;
inline constexpr double padding = 14;
inline constexpr double gap = 6;
inline constexpr double gapToPill = 8;
inline constexpr double slide = 6;
inline constexpr double textSize = 13.5;
inline constexpr double textWeight = 500;
} // namespace PillBubbleMetrics

// The overlay's geometry: sizes and shapes of every stage, anchoring at the eight spots, the
// island under a camera housing, hit areas, the drag's clamp and drop spots, the hint bubble.
// Pure functions of values, in the core's screen coordinates (y up): any thread. round() below
// means halves away from zero.
class PillGeometry {
public:
    PillGeometry() = delete;

    static constexpr Size barSize{44, 10};
    static constexpr Size uprightBarSize{10, 44};
    static constexpr Size micHoverSize{64, 44};
    static constexpr Size uprightHoverSize{44, 64};
    static constexpr Size dropSize{44, 44};
    static constexpr double hoverHeight = 28;
    static constexpr double hoverMinWidth = 204;
    static constexpr double islandHoverWidth = 300;
    static constexpr double islandRestRadius = 9;
    static constexpr double islandHoverRadius = 16;
    static constexpr double islandPillRadius = 22;
    static constexpr double islandWiden = 48;
    static constexpr double hitSlop = 8;
    static constexpr double boxMargin = 40;
    static constexpr double dragThreshold = 3;     // pointer travel before a press is a drag
    static constexpr double magnetHysteresis = 24; // for the nearest drop spot
    static constexpr double liftScale = 1.05;      // the lifted pill while dragged
    static constexpr double goneScale = 0.6;       // a pill that is not shown
    static constexpr Size dragOvershoot{40, 10};
    static constexpr Size boxSize{500, 124};
    static constexpr Size sideBoxSize{500, 144};
    static constexpr Size centreBoxSize{500, 168};

    // The two middle spots, where the resting forms stand upright.
    static bool isSide(PillSpot spot);
    static double sideGap(PillSpot spot);
    static bool isIsland(PillSpot spot, const PillScreen& screen);

    static Size size(const PillStage& stage, PillSpot spot);
    // With a camera housing the size of the island form; `upright` counts only without one.
    static Size size(const PillStage& stage, const std::optional<Rect>& notch, bool upright);
    static Size micHover(bool upright);

    // A frame of that size at the spot inside the rectangle, at whole points.
    static Rect anchored(Size size, PillSpot spot, const Rect& rect);
    // A frame of that size hanging from the display's top edge, centred on the housing.
    static Rect island(Size size, const Rect& notch, const Rect& screenFrame);
    // Fully rounded ends: both radii are half the shorter side.
    static PillShapeTarget capsule(const Rect& frame);
    static PillShapeTarget target(const PillStage& stage, PillSpot spot, const PillScreen& screen);

    // The overlay window's frame while the pill rests at the spot.
    static Rect homeBox(PillSpot spot, const PillScreen& screen);
    static PillContentAlign contentAlign(PillSpot spot, bool island, bool dragging);
    static Rect contentFrame(Size content, const Rect& rect, PillContentAlign align);
    // The hands-free stop button at the trailing end of the content.
    static Rect stopRect(const Rect& content);
    // Whether a point is on the stop button: its hit shape is the circle inscribed in its square.
    static bool isOnStop(Point p, const Rect& stop);

    static Rect hitRect(const Rect& rect);
    // An island is also reached through the housing's column, up to and past the top edge.
    static PillHitArea hitArea(const PillShapeTarget& target, const PillScreen& screen);

    // The hover form at every spot, in declaration order.
    static std::vector<PillGhost> ghosts(const PillScreen& screen);
    struct SpotCentre {
        PillSpot spot;
        Point centre;
    };
    // The spot whose centre is nearest the pointer; the previous choice stays while it is no
    // more than `hysteresis` points farther than the nearest. Ties go to the earlier spot.
    static std::optional<PillSpot> nearestSpot(Point pointer, const std::vector<SpotCentre>& ghosts,
                                               std::optional<PillSpot> previous, double hysteresis);

    // A dragged pill's centre, kept so that the pill overhangs the rectangle by at most 40
    // points at the sides and 10 at the top and bottom.
    static Point clampDrag(Point centre, Size size, const Rect& screen);
    // `grab` is the unit point of the pill under the pointer, from its bottom-left corner.
    static Point magnetPoint(Point pointer, Point grab, Size grabbed, const Rect& screen);
    static Rect draggedFrame(Point pointer, Point grab, Size size, const Rect& screen);
    // Where a point lies in a rectangle as fractions of its size, kept within 0...1.
    static Point grabFraction(Point p, const Rect& rect);
    static Rect grabbedShape(PillSpot spot, const PillScreen& screen, double hoverWidth);
    static Size liftedSize(std::optional<PillSpot> spot, const PillScreen& screen,
                           double hoverWidth);

    static Point micCentre(const Rect& rect);
    static bool isOnMic(Point p, const Rect& hover);

    // The island's hover hint: at least hoverMinWidth, always an even number of points.
    static double hoverWidth(std::string_view lead, std::string_view key,
                             const PillMeasure& measure);
    static double bubbleWidth(std::string_view lead, std::string_view key,
                              const PillMeasure& measure);

    static PillBubblePlacement bubblePlacement(PillSpot spot);
    static Rect bubbleFrame(const Rect& pill, PillSpot spot, double width);
    // From the bubble's resting frame towards the pill: where the hidden bubble sits.
    static PillVector bubbleSlide(PillSpot spot);
};

} // namespace talverin
