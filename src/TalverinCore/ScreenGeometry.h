#pragma once

namespace talverin {

// Every screen position and frame in the program uses one convention: points, with the origin
// at the bottom-left corner of the primary monitor and y growing upwards, so the top of a
// rectangle is its high-y edge. The X11 backends read and write root-window coordinates (origin
// at the top-left of the root window, y growing downwards) and convert at the seam with the
// functions below, and nowhere else.

struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;

    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin; // the bottom-left corner
    Size size;

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width / 2; }
    double midY() const { return origin.y + size.height / 2; }
    double width() const { return size.width; }
    double height() const { return size.height; }

    bool operator==(const Rect&) const = default;
};

// A point in X11 root-window coordinates: y grows downwards.
struct X11Point {
    double x = 0;
    double y = 0;

    bool operator==(const X11Point&) const = default;
};

// A rectangle in X11 root-window coordinates: (x, y) is its top-left corner.
struct X11Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const X11Rect&) const = default;
};

// `primaryMonitor` is the primary monitor's rectangle in root coordinates; it need not start at
// the root's origin (a monitor may sit to its left or above it).
constexpr Point fromX11Root(X11Point point, const X11Rect& primaryMonitor) {
    return {point.x - primaryMonitor.x, primaryMonitor.y + primaryMonitor.height - point.y};
}

constexpr Rect fromX11Root(const X11Rect& rect, const X11Rect& primaryMonitor) {
    return {{rect.x - primaryMonitor.x,
             primaryMonitor.y + primaryMonitor.height - (rect.y + rect.height)},
            {rect.width, rect.height}};
}

constexpr X11Rect toX11Root(const Rect& rect, const X11Rect& primaryMonitor) {
    return {rect.origin.x + primaryMonitor.x,
            primaryMonitor.y + primaryMonitor.height - (rect.origin.y + rect.size.height),
            rect.size.width, rect.size.height};
}

} // namespace talverin
