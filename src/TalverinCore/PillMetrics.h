#pragma once

#include "TalverinCore/ThemeTokens.h"

namespace talverin::PillMetrics {

// The pill's timing, spacing and spring constants, read by the pill overlay.

// A spring animation: how long it takes to settle, and how much it overshoots (1 = none).
struct Spring {
    double response = 0; // seconds
    double dampingFraction = 0;

    bool operator==(const Spring&) const = default;
};

inline constexpr double fadeIn = 0.14;  // seconds
inline constexpr double fadeOut = 0.11; // seconds
inline constexpr ThemeTokens::Curve ease{0.23, 1.0, 0.32, 1.0};

// Insets from the screen's visible frame, in points.
inline constexpr double bottomGap = 24;
inline constexpr double topGap = 12;
inline constexpr double sideGap = 24;
inline constexpr double sideSpotGap = 8;

// How long the menu's "hide for an hour" hides the idle pill, in seconds.
inline constexpr double idleHiddenFor = 3600;

inline constexpr Spring morph{0.32, 0.86};
inline constexpr Spring collapse{0.24, 1.0};
inline constexpr Spring drop{0.28, 0.70};
inline constexpr Spring snap{0.36, 0.78};
inline constexpr Spring lift{0.22, 0.90};

} // namespace talverin::PillMetrics
