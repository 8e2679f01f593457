#include "TalverinPill/PillLayout.h"

#include <algorithm>
#include <cmath>

namespace talverin::PillLayout {

double pillWidth(double content) {
    return std::clamp(2 * std::ceil(content / 2), minWidth, maxWidth);
}

double timerWidth(const PillMeasure& measure) {
    return std::ceil(measure("00:00", textSize, titleWeight, true));
}

} // namespace talverin::PillLayout
