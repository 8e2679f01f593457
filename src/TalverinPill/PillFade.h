#pragma once

#include "TalverinCore/PillMetrics.h"

namespace talverin {

// A fade of the pill in or out.
enum class PillFade { fadeIn, fadeOut };

// Seconds the fade lasts.
constexpr double duration(PillFade fade) {
    return fade == PillFade::fadeIn ? PillMetrics::fadeIn : PillMetrics::fadeOut;
}

} // namespace talverin
