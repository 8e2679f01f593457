#include "TalverinCore/WireHistoryListArgs.h"

namespace talverin::Wire {

nlohmann::json Coding<HistoryListArgs>::encode(const HistoryListArgs& value) {
    nlohmann::json object = nlohmann::json::object();
    encodeIfPresent(object, "query", value.query);
    encodeIfPresent(object, "limit", value.limit);
    encodeIfPresent(object, "before", value.before);
    return object;
}

HistoryListArgs Coding<HistoryListArgs>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    return HistoryListArgs{
        .query = object.optional<std::string>("query"),
        .limit = object.optional<std::int64_t>("limit"),
        .before = object.optional<std::string>("before"),
    };
}

} // namespace talverin::Wire
