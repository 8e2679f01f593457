#include "TalverinCore/SettingsCoding.h"

namespace talverin::Wire {

namespace {

// A value that does not read as T is no value, never an error.
template <Codable T> std::optional<T> lossy(const nlohmann::json* value) {
    if (value == nullptr || value->is_null())
        return std::nullopt;
    auto read = decodeValue<T>(*value);
    if (!read)
        return std::nullopt;
    return std::move(*read);
}

template <Codable T> std::optional<std::vector<T>> lossyList(const nlohmann::json* value) {
    if (value == nullptr || !value->is_array())
        return std::nullopt;
    std::vector<T> kept;
    for (const auto& element : *value)
        if (auto read = lossy<T>(&element))
            kept.push_back(std::move(*read));
    return kept;
}

std::optional<std::optional<std::string>> lossyMicrophoneID(const nlohmann::json* value) {
    if (value == nullptr)
        return std::nullopt;
    if (value->is_null())
        return std::optional<std::string>();
    if (value->is_string())
        return std::optional<std::string>(value->get<std::string>());
    return std::nullopt;
}

} // namespace

nlohmann::json Coding<Replacement>::encode(const Replacement& value) {
    return {{"from", value.from}, {"to", value.to}};
}

Replacement Coding<Replacement>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    return Replacement{object.required<std::string>("from"), object.required<std::string>("to")};
}

nlohmann::json Coding<Settings>::encode(const Settings& value) {
    return value.json();
}

Settings Coding<Settings>::decode(const nlohmann::json& json) {
    Settings settings;
    settings.apply(Coding<Settings::Patch>::decode(json));
    return settings;
}

nlohmann::json Coding<Settings::Patch>::encode(const Settings::Patch& value) {
    nlohmann::json object = nlohmann::json::object();
    encodeIfPresent(object, "holdKey", value.holdKey);
    encodeIfPresent(object, "languages", value.languages);
    encodeIfPresent(object, "textMode", value.textMode);
    encodeIfPresent(object, "words", value.words);
    encodeIfPresent(object, "replacements", value.replacements);
    if (value.microphoneID)
        object["microphoneID"] =
            *value.microphoneID ? nlohmann::json(**value.microphoneID) : nlohmann::json();
    encodeIfPresent(object, "sounds", value.sounds);
    encodeIfPresent(object, "duckMusic", value.duckMusic);
    encodeIfPresent(object, "theme", value.theme);
    encodeIfPresent(object, "sendContext", value.sendContext);
    encodeIfPresent(object, "onboarded", value.onboarded);
    encodeIfPresent(object, "cloudConsent", value.cloudConsent);
    encodeIfPresent(object, "pillSpot", value.pillSpot);
    encodeIfPresent(object, "pillIdle", value.pillIdle);
    encodeIfPresent(object, "onboardingStep", value.onboardingStep);
    return object;
}

Settings::Patch Coding<Settings::Patch>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    Settings::Patch patch;
    patch.holdKey = lossy<HoldKey>(object.find("holdKey"));
    patch.languages = lossyList<std::string>(object.find("languages"));
    patch.textMode = lossy<TextMode>(object.find("textMode"));
    patch.words = lossyList<std::string>(object.find("words"));
    patch.replacements = lossyList<Replacement>(object.find("replacements"));
    patch.microphoneID = lossyMicrophoneID(object.find("microphoneID"));
    patch.sounds = lossy<bool>(object.find("sounds"));
    patch.duckMusic = lossy<bool>(object.find("duckMusic"));
    patch.theme = lossy<ThemeSetting>(object.find("theme"));
    patch.sendContext = lossy<bool>(object.find("sendContext"));
    patch.onboarded = lossy<bool>(object.find("onboarded"));
    patch.cloudConsent = lossy<bool>(object.find("cloudConsent"));
    patch.pillSpot = lossy<PillSpot>(object.find("pillSpot"));
    patch.pillIdle = lossy<bool>(object.find("pillIdle"));
    patch.onboardingStep = lossy<int>(object.find("onboardingStep"));
    return patch;
}

} // namespace talverin::Wire
