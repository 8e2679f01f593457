// The outside forms of the settings kept in the defaults: the loose dictionary read back from
// there and the record written to it.
#include "TalverinCore/Settings.h"

#include "Runtime/DefaultsStore.h"
#include "TalverinCore/EnumTable.h"

#include <cmath>
#include <limits>

namespace talverin {

namespace {

template <typename E> std::optional<E> looseEnum(const nlohmann::json& value) {
    if (!value.is_string())
        return std::nullopt;
    return fromString<E>(value.get_ref<const std::string&>());
}

std::optional<std::vector<std::string>> looseStrings(const nlohmann::json& value) {
    if (!value.is_array())
        return std::nullopt;
    std::vector<std::string> strings;
    for (const auto& element : value)
        if (element.is_string())
            strings.push_back(element.get<std::string>());
    return strings;
}

// The stored form is the more forgiving one: a rule without a string "to" deletes its phrase.
std::optional<std::vector<Replacement>> looseReplacements(const nlohmann::json& value) {
    if (!value.is_array())
        return std::nullopt;
    std::vector<Replacement> rules;
    for (const auto& element : value) {
        if (!element.is_object())
            continue;
        auto from = element.find("from");
        if (from == element.end() || !from->is_string())
            continue;
        auto to = element.find("to");
        rules.push_back(Replacement{from->get<std::string>(), to != element.end() && to->is_string()
                                                                  ? to->get<std::string>()
                                                                  : std::string()});
    }
    return rules;
}

std::optional<std::optional<std::string>> looseMicrophoneID(const nlohmann::json& value) {
    if (value.is_null())
        return std::optional<std::string>();
    if (value.is_string())
        return std::optional<std::string>(value.get<std::string>());
    return std::nullopt;
}

template <typename T, typename Read>
void readKey(const nlohmann::json& dictionary, const char* key, std::optional<T>& field,
             Read read) {
    auto it = dictionary.find(key);
    if (it != dictionary.end())
        field = read(*it);
}

} // namespace

std::optional<bool> Settings::Patch::boolValue(const nlohmann::json& value) {
    if (!value.is_boolean())
        return std::nullopt;
    return value.get<bool>();
}

std::optional<int> Settings::Patch::intValue(const nlohmann::json& value) {
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    if (value.is_number_unsigned()) {
        const auto whole = value.get<std::uint64_t>();
        if (whole <= static_cast<std::uint64_t>(limit))
            return static_cast<int>(whole);
    } else if (value.is_number_integer()) {
        const auto whole = value.get<std::int64_t>();
        if (whole >= -limit && whole <= limit)
            return static_cast<int>(whole);
    } else if (value.is_number_float()) {
        // Checked as a double before any conversion: converting 1e300 or NaN is undefined.
        const double number = value.get<double>();
        if (std::isfinite(number) && std::trunc(number) == number &&
            std::fabs(number) <= static_cast<double>(limit))
            return static_cast<int>(number);
    }
    return std::nullopt;
}

Settings::Patch Settings::Patch::fromDictionary(const nlohmann::json& dictionary) {
    Patch patch;
    if (!dictionary.is_object())
        return patch;
    readKey(dictionary, "holdKey", patch.holdKey, looseEnum<HoldKey>);
    readKey(dictionary, "languages", patch.languages, looseStrings);
    readKey(dictionary, "textMode", patch.textMode, looseEnum<TextMode>);
    readKey(dictionary, "words", patch.words, looseStrings);
    readKey(dictionary, "replacements", patch.replacements, looseReplacements);
    readKey(dictionary, "microphoneID", patch.microphoneID, looseMicrophoneID);
    readKey(dictionary, "sounds", patch.sounds, boolValue);
    readKey(dictionary, "duckMusic", patch.duckMusic, boolValue);
    readKey(dictionary, "theme", patch.theme, looseEnum<ThemeSetting>);
    readKey(dictionary, "sendContext", patch.sendContext, boolValue);
    readKey(dictionary, "onboarded", patch.onboarded, boolValue);
    readKey(dictionary, "cloudConsent", patch.cloudConsent, boolValue);
    readKey(dictionary, "pillSpot", patch.pillSpot, looseEnum<PillSpot>);
    readKey(dictionary, "pillIdle", patch.pillIdle, boolValue);
    readKey(dictionary, "onboardingStep", patch.onboardingStep, intValue);
    return patch;
}

nlohmann::json Settings::plist() const {
    nlohmann::json record = json();
    if (!microphoneID)
        record.erase("microphoneID");
    return record;
}

nlohmann::json Settings::json() const {
    nlohmann::json rules = nlohmann::json::array();
    for (const auto& rule : replacements)
        rules.push_back({{"from", rule.from}, {"to", rule.to}});
    nlohmann::json record = nlohmann::json::object();
    record["holdKey"] = std::string(toString(holdKey));
    record["languages"] = languages;
    record["textMode"] = std::string(toString(textMode));
    record["words"] = words;
    record["replacements"] = std::move(rules);
    record["microphoneID"] = microphoneID ? nlohmann::json(*microphoneID) : nlohmann::json();
    record["sounds"] = sounds;
    record["duckMusic"] = duckMusic;
    record["theme"] = std::string(toString(theme));
    record["sendContext"] = sendContext;
    record["onboarded"] = onboarded;
    record["cloudConsent"] = cloudConsent;
    record["pillSpot"] = std::string(toString(pillSpot));
    record["pillIdle"] = pillIdle;
    record["onboardingStep"] = onboardingStep;
    return record;
}

Settings Settings::load(const DefaultsStore& store, Settings base) {
    // The store hands out a copy, so a reader cannot change the stored record by accident.
    if (auto stored = store.get(std::string(defaultsKey)); stored && stored->is_object())
        base.apply(Patch::fromDictionary(*stored));
    return base;
}

void Settings::save(DefaultsStore& store) const {
    store.set(std::string(defaultsKey), plist());
}

} // namespace talverin
