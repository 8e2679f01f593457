#pragma once

#include "TalverinCore/EnumTable.h"

#include <array>
#include <optional>

namespace talverin {

// The eight places on a screen where the pill can sit. The middle row has no centre spot.
enum class PillSpot {
    topLeft,
    topCenter,
    topRight,
    middleLeft,
    middleRight,
    bottomLeft,
    bottomCenter,
    bottomRight,
};

enum class PillSpotRow {
    top,
    middle,
    bottom,
};

enum class PillSpotColumn {
    left,
    center,
    right,
};

// The spots are stored and sent to the pages as two-letter codes.
template <> struct EnumTable<PillSpot> {
    static constexpr auto entries = std::to_array<EnumEntry<PillSpot>>({
        {PillSpot::topLeft, "tl"},
        {PillSpot::topCenter, "tc"},
        {PillSpot::topRight, "tr"},
        {PillSpot::middleLeft, "ml"},
        {PillSpot::middleRight, "mr"},
        {PillSpot::bottomLeft, "bl"},
        {PillSpot::bottomCenter, "bc"},
        {PillSpot::bottomRight, "br"},
    });
};

inline constexpr std::array<PillSpotRow, 3> allPillSpotRows{PillSpotRow::top, PillSpotRow::middle,
                                                            PillSpotRow::bottom};
inline constexpr std::array<PillSpotColumn, 3> allPillSpotColumns{
    PillSpotColumn::left, PillSpotColumn::center, PillSpotColumn::right};

constexpr PillSpotRow row(PillSpot spot) {
    switch (spot) {
    case PillSpot::topLeft:
    case PillSpot::topCenter:
    case PillSpot::topRight:
        return PillSpotRow::top;
    case PillSpot::middleLeft:
    case PillSpot::middleRight:
        return PillSpotRow::middle;
    case PillSpot::bottomLeft:
    case PillSpot::bottomCenter:
    case PillSpot::bottomRight:
        return PillSpotRow::bottom;
    }
    return PillSpotRow::bottom;
}

constexpr PillSpotColumn column(PillSpot spot) {
    switch (spot) {
    case PillSpot::topLeft:
    case PillSpot::middleLeft:
    case PillSpot::bottomLeft:
        return PillSpotColumn::left;
    case PillSpot::topCenter:
    case PillSpot::bottomCenter:
        return PillSpotColumn::center;
    case PillSpot::topRight:
    case PillSpot::middleRight:
    case PillSpot::bottomRight:
        return PillSpotColumn::right;
    }
    return PillSpotColumn::center;
}

// The spot at a row and a column: the first of all spots in declaration order that lies
// there, and no spot for the middle of the middle row.
constexpr std::optional<PillSpot> pillSpotAt(PillSpotRow atRow, PillSpotColumn atColumn) {
    for (PillSpot spot : allCases<PillSpot>())
        if (row(spot) == atRow && column(spot) == atColumn)
            return spot;
    return std::nullopt;
}

} // namespace talverin
