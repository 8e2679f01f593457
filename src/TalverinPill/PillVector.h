#pragma once

namespace talverin {

// An offset in screen coordinates (y up).
struct PillVector {
    double dx = 0;
    double dy = 0;

    bool operator==(const PillVector&) const = default;
};

} // namespace talverin
