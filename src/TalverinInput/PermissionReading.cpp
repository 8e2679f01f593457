#include "TalverinInput/PermissionReading.h"

namespace talverin {

Wire::Permissions PermissionReading::current() {
    // Read one by one, in this order: each read may ask the system.
    Wire::Permissions permissions;
    permissions.microphone = state(Wire::PermissionKind::microphone);
    permissions.accessibility = state(Wire::PermissionKind::accessibility);
    permissions.speech = state(Wire::PermissionKind::speech);
    return permissions;
}

} // namespace talverin
