#pragma once

#include "TalverinCore/WirePermissions.h"

namespace talverin {

// The microphone permission as the sound system grants it.
class MicrophoneAccess {
public:
    virtual ~MicrophoneAccess() = default;

    // Any thread. The state as last checked; a check on the way does not delay the answer,
    // except for the very first one.
    virtual Wire::PermissionState state() = 0;
    // Any thread but the main one; may wait for the sound system. Checks now.
    virtual Wire::PermissionState check() = 0;
};

} // namespace talverin
