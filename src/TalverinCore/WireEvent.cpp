#include "TalverinCore/WireEvent.h"

#include "TalverinCore/CoreRecordCoding.h"
#include "TalverinCore/SettingsCoding.h"

#include <utility>

namespace talverin::Wire {

Event Event::settings(Settings settings) {
    return Event(Kind::settings, Payload(std::in_place_type<Settings>, std::move(settings)));
}

Event Event::historyAdded(HistoryItem item) {
    return Event(Kind::historyAdded, Payload(std::in_place_type<HistoryItem>, std::move(item)));
}

Event Event::historyRemoved(std::string id) {
    return Event(Kind::historyRemoved, Payload(std::in_place_type<std::string>, std::move(id)));
}

Event Event::permissions(Permissions permissions) {
    return Event(Kind::permissions, Payload(std::in_place_type<Permissions>, permissions));
}

Event Event::tryDictation(TryDictationResult result) {
    return Event(Kind::tryDictation,
                 Payload(std::in_place_type<TryDictationResult>, std::move(result)));
}

Event Event::microphones(std::vector<Microphone> microphones) {
    return Event(Kind::microphones,
                 Payload(std::in_place_type<std::vector<Microphone>>, std::move(microphones)));
}

Event Event::holdKey(bool down) {
    return Event(Kind::holdKey, Payload(std::in_place_type<bool>, down));
}

Event Event::micLevel(MicCheckReading reading) {
    return Event(Kind::micLevel, Payload(std::in_place_type<MicCheckReading>, reading));
}

Event Event::openSettings(std::optional<std::string> focus) {
    return Event(Kind::openSettings,
                 Payload(std::in_place_type<std::optional<std::string>>, std::move(focus)));
}

Event Event::keyCapture(KeyCaptureResult capture) {
    return Event(Kind::keyCapture, Payload(std::in_place_type<KeyCaptureResult>, capture));
}

std::string_view Event::type() const {
    return toString(m_kind);
}

namespace {

// What an accessor gives for an event that does not carry its payload.
template <typename T> const T& none() {
    static const T value{};
    return value;
}

} // namespace

const Settings& Event::settings() const {
    const auto* value = payload<Settings>();
    return value ? *value : none<Settings>();
}

const HistoryItem& Event::item() const {
    const auto* value = payload<HistoryItem>();
    return value ? *value : none<HistoryItem>();
}

const std::string& Event::id() const {
    const auto* value = payload<std::string>();
    return value ? *value : none<std::string>();
}

const Permissions& Event::permissions() const {
    const auto* value = payload<Permissions>();
    return value ? *value : none<Permissions>();
}

const TryDictationResult& Event::result() const {
    const auto* value = payload<TryDictationResult>();
    return value ? *value : none<TryDictationResult>();
}

const std::vector<Microphone>& Event::microphones() const {
    const auto* value = payload<std::vector<Microphone>>();
    return value ? *value : none<std::vector<Microphone>>();
}

bool Event::down() const {
    const auto* value = payload<bool>();
    return value ? *value : false;
}

const MicCheckReading& Event::reading() const {
    const auto* value = payload<MicCheckReading>();
    return value ? *value : none<MicCheckReading>();
}

const std::optional<std::string>& Event::focus() const {
    const auto* value = payload<std::optional<std::string>>();
    return value ? *value : none<std::optional<std::string>>();
}

KeyCaptureResult Event::capture() const {
    const auto* value = payload<KeyCaptureResult>();
    return value ? *value : KeyCaptureResult::cancelled();
}

Coded<std::string> Event::script() const {
    auto json = encoder().encode(*this);
    if (!json)
        return json;
    // The wire encoder escapes quotes, backslashes, control characters and slashes, so its text
    // is a script expression as it stands and cannot close a script element early.
    return "window.__tlvEmit && window.__tlvEmit(" + *json + ")";
}

nlohmann::json Coding<Event>::encode(const Event& value) {
    nlohmann::json object = {{"type", std::string(value.type())}};
    switch (value.kind()) {
    case Event::Kind::settings:
        object["settings"] = encodeValue(value.settings());
        break;
    case Event::Kind::historyAdded:
        object["item"] = encodeValue(value.item());
        break;
    case Event::Kind::historyRemoved:
        object["id"] = value.id();
        break;
    case Event::Kind::permissions:
        object["permissions"] = encodeValue(value.permissions());
        break;
    case Event::Kind::tryDictation:
        object["result"] = encodeValue(value.result());
        break;
    case Event::Kind::microphones:
        object["microphones"] = encodeValue(value.microphones());
        break;
    case Event::Kind::holdKey:
        object["down"] = value.down();
        break;
    case Event::Kind::micLevel:
        // The reading stands beside "type", not in an object of its own.
        object.update(encodeValue(value.reading()));
        break;
    case Event::Kind::openSettings:
        encodeIfPresent(object, "focus", value.focus());
        break;
    case Event::Kind::keyCapture:
        object["capture"] = encodeValue(value.capture());
        break;
    case Event::Kind::historyCleared:
    case Event::Kind::shown:
    case Event::Kind::hidden:
        break;
    }
    return object;
}

Event Coding<Event>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    const auto type = object.required<std::string>("type");
    const auto kind = fromString<Event::Kind>(type);
    if (!kind)
        failCoding(CodingError::dataCorrupted, "unknown event " + type);
    switch (*kind) {
    case Event::Kind::settings:
        return Event::settings(object.required<Settings>("settings"));
    case Event::Kind::historyAdded:
        return Event::historyAdded(object.required<HistoryItem>("item"));
    case Event::Kind::historyRemoved:
        return Event::historyRemoved(object.required<std::string>("id"));
    case Event::Kind::historyCleared:
        return Event::historyCleared();
    case Event::Kind::permissions:
        return Event::permissions(object.required<Permissions>("permissions"));
    case Event::Kind::tryDictation:
        return Event::tryDictation(object.required<TryDictationResult>("result"));
    case Event::Kind::microphones:
        return Event::microphones(object.required<std::vector<Microphone>>("microphones"));
    case Event::Kind::shown:
        return Event::shown();
    case Event::Kind::hidden:
        return Event::hidden();
    case Event::Kind::holdKey:
        return Event::holdKey(object.required<bool>("down"));
    case Event::Kind::micLevel:
        return Event::micLevel(Coding<MicCheckReading>::decode(json));
    case Event::Kind::openSettings:
        return Event::openSettings(object.optional<std::string>("focus"));
    case Event::Kind::keyCapture:
        return Event::keyCapture(object.required<KeyCaptureResult>("capture"));
    }
    failCoding(CodingError::dataCorrupted, "unknown event " + type);
}

} // namespace talverin::Wire
