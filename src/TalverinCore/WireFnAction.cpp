#include "TalverinCore/WireFnAction.h"

#include <cmath>

namespace talverin::Wire {

FnAction fnActionFromUsageType(const std::optional<nlohmann::json>& usageType) {
    if (!usageType || !usageType->is_number())
        return FnAction::unknown;
    // The integer part of the number, as a preference reader would give it; checked against the
    // four values before any conversion, since converting 1e300 to an integer is undefined.
    const double whole = std::trunc(usageType->get<double>());
    if (whole == 0)
        return FnAction::none;
    if (whole == 1)
        return FnAction::inputSource;
    if (whole == 2)
        return FnAction::emoji;
    if (whole == 3)
        return FnAction::dictation;
    return FnAction::unknown;
}

FnAction currentFnAction() {
    return fnActionFromUsageType(std::nullopt);
}

} // namespace talverin::Wire
