// The outside forms of the settings kept in the defaults: the loose dictionary read back from
// there and the record written to it.
#include "TalverinCore/Settings.h"

#include "Runtime/DefaultsStore.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/EnumTable.h"

#include <algorithm>
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

// Whether every part of a stored value reads in the accepted form, so that nothing of it is
// dropped on the way into the record. Only a missing "to" in a rule is no loss: such a rule
// deletes its phrase.
template <typename E> bool wholeEnum(const nlohmann::json& value) {
    return looseEnum<E>(value).has_value();
}

bool wholeStrings(const nlohmann::json& value) {
    return value.is_array() &&
           std::all_of(value.begin(), value.end(), [](const auto& e) { return e.is_string(); });
}

bool wholeReplacements(const nlohmann::json& value) {
    return value.is_array() && std::all_of(value.begin(), value.end(), [](const auto& rule) {
               if (!rule.is_object())
                   return false;
               auto from = rule.find("from");
               auto to = rule.find("to");
               return from != rule.end() && from->is_string() &&
                      (to == rule.end() || to->is_string());
           });
}

bool wholeMicrophoneID(const nlohmann::json& value) {
    return looseMicrophoneID(value).has_value();
}
bool wholeBool(const nlohmann::json& value) {
    return Settings::Patch::boolValue(value).has_value();
}
bool wholeInt(const nlohmann::json& value) {
    return Settings::Patch::intValue(value).has_value();
}

struct StoredKey {
    std::string_view name;
    bool (*whole)(const nlohmann::json&);
};

constexpr StoredKey storedKeys[] = {
    {"holdKey", wholeEnum<HoldKey>},
    {"languages", wholeStrings},
    {"textMode", wholeEnum<TextMode>},
    {"words", wholeStrings},
    {"replacements", wholeReplacements},
    {"microphoneID", wholeMicrophoneID},
    {"sounds", wholeBool},
    {"duckMusic", wholeBool},
    {"theme", wholeEnum<ThemeSetting>},
    {"sendContext", wholeBool},
    {"onboarded", wholeBool},
    {"cloudConsent", wholeBool},
    {"pillSpot", wholeEnum<PillSpot>},
    {"pillIdle", wholeBool},
    {"onboardingStep", wholeInt},
};

// The stored keys that lose all or part of their value on the way into the record, in the
// record's order; a key the record does not know is lost too. A stored value that is no
// dictionary is lost whole.
std::vector<std::string> droppedValues(const nlohmann::json& stored) {
    if (!stored.is_object())
        return {"the whole record: " + std::string(stored.type_name()) + ", not a dictionary"};
    std::vector<std::string> dropped;
    for (const StoredKey& key : storedKeys) {
        auto value = stored.find(key.name);
        if (value != stored.end() && !key.whole(*value))
            dropped.emplace_back(key.name);
    }
    for (const auto& [name, value] : stored.items()) {
        const bool known = std::any_of(std::begin(storedKeys), std::end(storedKeys),
                                       [&name](const StoredKey& key) { return key.name == name; });
        if (!known)
            dropped.push_back(name);
    }
    return dropped;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
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

Settings Settings::load(DefaultsStore& store, Settings base) {
    // The store hands out a copy, so a reader cannot change the stored record by accident.
    const auto stored = store.get(std::string(defaultsKey));
    if (!stored)
        return base;
    if (stored->is_object())
        base.apply(Patch::fromDictionary(*stored));
    const std::vector<std::string> dropped = droppedValues(*stored);
    if (dropped.empty())
        return base;
    // The next save would write over what was dropped: the original is kept first, and the
    // record is written back at once, so that a later launch neither drops nor keeps it again.
    auto kept = store.keepOriginal();
    std::string line = "Defaults: dropped stored settings that do not read (" + joined(dropped) +
                       ")" + (stored->is_object() ? "; every other value is kept" : "");
    if (!kept)
        line +=
            "; the original could not be kept (" + kept.message() + "): changes will not be saved";
    else if (!kept->empty())
        line += "; the original is set aside as " + *kept;
    CoreLog::write(line);
    if (kept)
        base.save(store);
    return base;
}

void Settings::save(DefaultsStore& store) const {
    store.set(std::string(defaultsKey), plist());
}

} // namespace talverin
