#include "TalverinCore/CoreRecordCoding.h"

namespace talverin::Wire {

nlohmann::json Coding<MicCheckReading>::encode(const MicCheckReading& value) {
    nlohmann::json object = {{"level", encodeValue(value.level)}};
    encodeIfPresent(object, "reason", value.reason);
    return object;
}

MicCheckReading Coding<MicCheckReading>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    return MicCheckReading{
        .level = object.required<float>("level"),
        .reason = object.optional<MicSilenceReason>("reason"),
    };
}

nlohmann::json Coding<Microphone>::encode(const Microphone& value) {
    return {{"id", value.id}, {"name", value.name}};
}

Microphone Coding<Microphone>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    return Microphone{
        .id = object.required<std::string>("id"),
        .name = object.required<std::string>("name"),
    };
}

nlohmann::json Coding<KeyCaptureResult>::encode(const KeyCaptureResult& value) {
    switch (value.kind()) {
    case KeyCaptureResult::Kind::accepted: {
        const HoldKey key = *value.key();
        const auto warn = warning(key);
        return {
            {"kind", "accepted"},
            {"key", encodeValue(key)},
            {"warn", warn ? encodeValue(*warn) : nlohmann::json(nullptr)},
        };
    }
    case KeyCaptureResult::Kind::rejected:
        return {{"kind", "rejected"}, {"reason", encodeValue(*value.reason())}};
    case KeyCaptureResult::Kind::cancelled:
        break;
    }
    return {{"kind", "cancelled"}};
}

KeyCaptureResult Coding<KeyCaptureResult>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    const auto kind = object.required<std::string>("kind");
    if (kind == "accepted")
        return KeyCaptureResult::accepted(object.required<HoldKey>("key"));
    if (kind == "rejected")
        return KeyCaptureResult::rejected(object.required<KeyRejectReason>("reason"));
    if (kind == "cancelled")
        return KeyCaptureResult::cancelled();
    failCoding(CodingError::dataCorrupted, "unknown capture result " + kind);
}

} // namespace talverin::Wire
