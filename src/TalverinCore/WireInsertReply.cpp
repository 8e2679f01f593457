#include "TalverinCore/WireInsertReply.h"

namespace talverin::Wire {

InsertReply::InsertReply(const InsertOutcome& outcome) {
    switch (outcome.kind()) {
    case InsertOutcome::Kind::inserted:
        kind = "inserted";
        break;
    case InsertOutcome::Kind::copiedOnly:
        kind = "copiedOnly";
        break;
    case InsertOutcome::Kind::refused:
        kind = "refused";
        reason = outcome.reason();
        break;
    }
}

nlohmann::json Coding<InsertReply>::encode(const InsertReply& value) {
    nlohmann::json object = {{"kind", value.kind}};
    encodeIfPresent(object, "reason", value.reason);
    return object;
}

InsertReply Coding<InsertReply>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    InsertReply reply;
    reply.kind = object.required<std::string>("kind");
    reply.reason = object.optional<RefuseReason>("reason");
    return reply;
}

} // namespace talverin::Wire
