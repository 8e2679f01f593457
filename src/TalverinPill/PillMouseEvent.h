#pragma once

#include "TalverinCore/ScreenGeometry.h"

namespace talverin {

// A mouse event on the pill's window, as the window driver delivers it. Points are in screen
// coordinates (y up).
class PillMouseEvent {
public:
    enum class Kind {
        down,      // the left button went down
        dragged,   // the pointer moved with the left button down
        up,        // the left button went up
        rightDown, // the right button went down, or the left one with the control key
        moved,     // the pointer moved or left the window, or a monitored event elsewhere
    };

    static PillMouseEvent down(Point p) { return PillMouseEvent(Kind::down, p); }
    static PillMouseEvent dragged(Point p) { return PillMouseEvent(Kind::dragged, p); }
    static PillMouseEvent up(Point p) { return PillMouseEvent(Kind::up, p); }
    static PillMouseEvent rightDown(Point p) { return PillMouseEvent(Kind::rightDown, p); }
    static PillMouseEvent moved() { return PillMouseEvent(Kind::moved, {}); }

    Kind kind() const { return m_kind; }
    // Where the event happened; (0, 0) for `moved`, whose location is the driver's pointer.
    Point point() const { return m_point; }

    bool operator==(const PillMouseEvent&) const = default;

private:
    PillMouseEvent(Kind kind, Point point) : m_kind(kind), m_point(point) {}

    Kind m_kind;
    Point m_point;
};

} // namespace talverin
