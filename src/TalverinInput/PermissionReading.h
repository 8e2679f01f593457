#pragma once

#include "Runtime/Future.h"
#include "TalverinCore/WirePermissions.h"

namespace talverin {

// Reads and asks for the three permissions the program needs.
class PermissionReading {
public:
    virtual ~PermissionReading() = default;

    // Main thread. The permission's state now.
    virtual Wire::PermissionState state(Wire::PermissionKind kind) = 0;
    // Main thread. Asks the system for the permission where it has not been decided yet and
    // answers with the state read afterwards; the answer may be resolved on another thread.
    virtual Future<Wire::PermissionState> request(Wire::PermissionKind kind) = 0;

    // The three states, read in the order microphone, accessibility, speech.
    Wire::Permissions current();
};

} // namespace talverin
