#include "TalverinPill/PillScreen.h"

namespace talverin {

std::optional<Rect> PillScreen::notchFrom(const Rect& frame, double safeTop,
                                          std::optional<double> leftWidth,
                                          std::optional<double> rightWidth) {
    if (!(safeTop > 0) || !leftWidth || !rightWidth)
        return std::nullopt;
    const double left = frame.minX() + *leftWidth;
    const double right = frame.maxX() - *rightWidth;
    if (!(left < right))
        return std::nullopt;
    return Rect{{left, frame.maxY() - safeTop}, {right - left, safeTop}};
}

} // namespace talverin
