#include "TalverinCore/HistoryItem.h"

#include "Runtime/Uuid.h"

namespace talverin {

std::string HistoryItem::newID() {
    return newUuid();
}

} // namespace talverin

namespace talverin::Wire {

nlohmann::json Coding<HistoryItem>::encode(const HistoryItem& value) {
    return {
        {"id", value.id},
        {"date", encodeValue(value.date)},
        {"appName", value.appName},
        {"bundleID", value.bundleID},
        {"clean", value.clean},
        {"raw", value.raw},
        {"inserted", value.inserted},
        {"mode", encodeValue(value.mode)},
    };
}

HistoryItem Coding<HistoryItem>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    return HistoryItem{
        .id = object.required<std::string>("id"),
        .date = object.required<Date>("date"),
        .appName = object.required<std::string>("appName"),
        .bundleID = object.required<std::string>("bundleID"),
        .clean = object.required<std::string>("clean"),
        .raw = object.required<std::string>("raw"),
        .inserted = object.required<bool>("inserted"),
        .mode = object.required<DictationMode>("mode"),
    };
}

} // namespace talverin::Wire
