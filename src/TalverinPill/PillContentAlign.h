#pragma once

namespace talverin {

// Where the content sits inside the pill's shape.
struct PillContentAlign {
    enum class Horizontal { leading, center, trailing };
    enum class Vertical { top, center, bottom };

    Horizontal horizontal = Horizontal::center;
    Vertical vertical = Vertical::center;

    static constexpr PillContentAlign center() { return {Horizontal::center, Vertical::center}; }
    // Content hanging from the camera housing sits at the bottom, below the housing.
    static constexpr PillContentAlign island() { return {Horizontal::center, Vertical::bottom}; }

    bool operator==(const PillContentAlign&) const = default;
};

} // namespace talverin
