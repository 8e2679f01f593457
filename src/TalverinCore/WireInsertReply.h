#pragma once

#include "TalverinCore/InsertOutcome.h"
#include "TalverinCore/RefuseReason.h"
#include "TalverinCore/WireCoding.h"

#include <optional>
#include <string>

namespace talverin::Wire {

// The reply to a page that asked to insert a history item again.
struct InsertReply {
    std::string kind;                   // "inserted", "copiedOnly" or "refused"
    std::optional<RefuseReason> reason; // present only with "refused"

    InsertReply() = default;
    explicit InsertReply(const InsertOutcome& outcome);

    bool operator==(const InsertReply&) const = default;
};

// "reason" is written only when present.
template <> struct Coding<InsertReply> {
    static nlohmann::json encode(const InsertReply& value);
    static InsertReply decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
