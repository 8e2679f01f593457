#pragma once

#include "TalverinCore/DictateError.h"
#include "TalverinCore/DictateResult.h"

#include <string>
#include <variant>

namespace talverin {

// A failure of a cloud dictation that is not one of the service's own errors: the request was
// cancelled, or something below the client failed in a way it does not map. The controller
// treats every such failure alike and keeps the text only for its log.
struct DictateOtherError {
    std::string text;

    bool operator==(const DictateOtherError&) const = default;
};

// What `Dictating::dictate` resolves to: the answer, one of the service's errors, or another
// failure.
using DictateReply = std::variant<DictateResult, DictateError, DictateOtherError>;

} // namespace talverin
