#include "TalverinPill/PillMotion.h"

#include <cmath>
#include <numbers>

namespace talverin::PillMotion {

double dotOpacity(int index, double time) {
    return 0.3 + 0.7 * (0.5 + 0.5 * std::cos(2 * std::numbers::pi * (time - 0.2 * index)));
}

} // namespace talverin::PillMotion
