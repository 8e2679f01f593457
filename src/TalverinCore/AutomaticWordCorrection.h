#pragma once

#include "TalverinCore/Replacement.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace talverin {

// The one learned rule that the application keeps in the user's replacement list. Each new
// correction takes the place of the previous learned rule, and a report of no correction takes
// it out again; once the user has edited or removed the learned rule by hand, nothing more is
// learned for the life of this record. The owner keeps one for the life of the process.
class AutomaticWordCorrection {
public:
    AutomaticWordCorrection() = default;

    // Main thread. Takes the newest correction (none when the watch saw no correction) and the
    // current rule list; answers the new rule list, or none when the list stays as it is. The
    // list takes a new rule only while it holds fewer than `maxReplacements` rules (the
    // settings' limit).
    std::optional<std::vector<Replacement>> update(const std::optional<Replacement>& correction,
                                                   const std::vector<Replacement>& rules,
                                                   std::size_t maxReplacements);

private:
    std::optional<Replacement> installed;
    bool manuallyChanged = false;
};

} // namespace talverin
