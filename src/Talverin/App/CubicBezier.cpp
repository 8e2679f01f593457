#include "Talverin/App/CubicBezier.h"

#include <cmath>

namespace talverin {

namespace {

double coordinate(double u, double p1, double p2) {
    const double v = 1 - u;
    return 3 * v * v * u * p1 + 3 * v * u * u * p2 + u * u * u;
}

} // namespace

double CubicBezier::operator()(double x) const {
    if (!std::isfinite(x) || !(x > 0))
        return 0;
    if (x >= 1)
        return 1;
    double low = 0;
    double high = 1;
    for (int i = 0; i < 40; ++i) {
        const double middle = (low + high) / 2;
        if (coordinate(middle, x1, x2) < x)
            low = middle;
        else
            high = middle;
    }
    return coordinate((low + high) / 2, y1, y2);
}

} // namespace talverin
