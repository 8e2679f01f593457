#pragma once

#include "TalverinCore/DictationMode.h"
#include "TalverinCore/WireCoding.h"
#include "TalverinCore/WireDate.h"

#include <string>

namespace talverin {

// One dictation that reached the inserter, whether it was inserted, only copied or refused.
struct HistoryItem {
    std::string id;        // a lower-case UUID from newID(); the item's identity
    Wire::Date date;       // when the dictation finished
    std::string appName;   // the target application's name
    std::string bundleID;  // its identifier, empty when unknown
    std::string clean;     // the text after trimming and the replacement rules, before joining
    std::string raw;       // the raw transcript
    bool inserted = false; // true only when the inserter answered inserted
    DictationMode mode = DictationMode::clean;

    // Any thread. A fresh identifier.
    static std::string newID();

    bool operator==(const HistoryItem&) const = default;
};

} // namespace talverin

namespace talverin::Wire {

// All eight keys are written and all eight are required when read: a missing key, a null, a
// wrong type or an unknown mode fails the item.
template <> struct Coding<HistoryItem> {
    static nlohmann::json encode(const HistoryItem& value);
    static HistoryItem decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
