#include "TalverinCore/WirePermissions.h"

namespace talverin::Wire {

PermissionState& Permissions::operator[](PermissionKind kind) {
    switch (kind) {
    case PermissionKind::microphone:
        return microphone;
    case PermissionKind::accessibility:
        return accessibility;
    case PermissionKind::speech:
        return speech;
    }
    return speech;
}

PermissionState Permissions::operator[](PermissionKind kind) const {
    return const_cast<Permissions&>(*this)[kind];
}

bool Permissions::allGranted() const {
    return microphone == PermissionState::granted && accessibility == PermissionState::granted &&
           speech == PermissionState::granted;
}

nlohmann::json Coding<Permissions>::encode(const Permissions& value) {
    return {
        {"microphone", encodeValue(value.microphone)},
        {"accessibility", encodeValue(value.accessibility)},
        {"speech", encodeValue(value.speech)},
    };
}

Permissions Coding<Permissions>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    return Permissions{
        .microphone = object.required<PermissionState>("microphone"),
        .accessibility = object.required<PermissionState>("accessibility"),
        .speech = object.required<PermissionState>("speech"),
    };
}

} // namespace talverin::Wire
