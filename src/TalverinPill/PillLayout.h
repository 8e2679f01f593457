#pragma once

#include "TalverinPill/PillMeasure.h"

// Sizes of the state pill's body and its parts, in points unless noted.
namespace talverin::PillLayout {

inline constexpr double height = 44;
inline constexpr double padLead = 14;
inline constexpr double padTrail = 18;
inline constexpr double padStop = 6;
inline constexpr double gap = 10;
inline constexpr double detailGap = 8;
inline constexpr double textSize = 13.5;
inline constexpr double titleWeight = 600; // numeric font weights
inline constexpr double detailWeight = 500;
inline constexpr double liveWeight = 500;
inline constexpr double recDot = 8;
inline constexpr double recHalo = 16;
inline constexpr double dotSize = 5;
inline constexpr double dotGap = 4;
inline constexpr int dotCount = 3;
inline constexpr double listeningWidth = 340;
inline constexpr double handsFreeWidth = 380;
inline constexpr double minWidth = 132;
inline constexpr double maxWidth = 420;
inline constexpr double discSize = 24;
inline constexpr double symbolSize = 12;
inline constexpr double stopSize = 28;
inline constexpr double stopHit = 32;
inline constexpr double stopGlyph = 10;
inline constexpr double stopGlyphRadius = 4;

// A content width as a pill width: up to an even number of points, within minWidth...maxWidth.
double pillWidth(double content);

// The room the hands-free timer takes whatever it reads: "00:00" in the title font with
// tabular digits, rounded up.
double timerWidth(const PillMeasure& measure);

} // namespace talverin::PillLayout
