#pragma once

#include "TalverinCore/ScreenGeometry.h"

#include <algorithm>
#include <cmath>

// Small rectangle arithmetic the pill's geometry shares. Rectangles here always have
// non-negative sizes.
namespace talverin::PillRects {

// The rectangle grown by `by` on every side (shrunk for a negative amount).
inline Rect grown(const Rect& rect, double by) {
    return {{rect.minX() - by, rect.minY() - by}, {rect.width() + 2 * by, rect.height() + 2 * by}};
}

// Minimum edges inclusive, maximum edges exclusive, so rectangles that share an edge never
// both hold a point on it.
inline bool contains(const Rect& rect, Point p) {
    return p.x >= rect.minX() && p.x < rect.maxX() && p.y >= rect.minY() && p.y < rect.maxY();
}

// The area two rectangles share; 0 when they only touch or lie apart.
inline double overlapArea(const Rect& a, const Rect& b) {
    const double w = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double h = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return w > 0 && h > 0 ? w * h : 0;
}

inline Rect centredOn(Point centre, Size size) {
    return {{centre.x - size.width / 2, centre.y - size.height / 2}, size};
}

inline Point centre(const Rect& rect) {
    return {rect.midX(), rect.midY()};
}

inline double distance(Point a, Point b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

} // namespace talverin::PillRects
