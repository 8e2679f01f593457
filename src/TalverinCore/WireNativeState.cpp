#include "TalverinCore/WireNativeState.h"

#include "TalverinCore/CoreRecordCoding.h"
#include "TalverinCore/SettingsCoding.h"

namespace talverin::Wire {

nlohmann::json Coding<NativeState>::encode(const NativeState& value) {
    nlohmann::json object = nlohmann::json::object();
    object["settings"] = encodeValue(value.settings);
    object["permissions"] = encodeValue(value.permissions);
    object["version"] = value.version;
    object["lang"] = value.lang;
    object["cloudConfigured"] = value.cloudConfigured;
    object["microphones"] = encodeValue(value.microphones);
    object["wordsToday"] = value.wordsToday;
    object["hasNotch"] = value.hasNotch;
    object["fnAction"] = encodeValue(value.fnAction);
    return object;
}

NativeState Coding<NativeState>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    return NativeState{
        .settings = object.required<Settings>("settings"),
        .permissions = object.required<Permissions>("permissions"),
        .version = object.required<std::string>("version"),
        .lang = object.required<std::string>("lang"),
        .cloudConfigured = object.required<bool>("cloudConfigured"),
        .microphones = object.required<std::vector<Microphone>>("microphones"),
        .wordsToday = object.required<std::int64_t>("wordsToday"),
        .hasNotch = object.required<bool>("hasNotch"),
        .fnAction = object.required<FnAction>("fnAction"),
    };
}

} // namespace talverin::Wire
