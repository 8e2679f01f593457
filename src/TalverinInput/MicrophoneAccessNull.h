#pragma once

#include "TalverinInput/MicrophoneAccess.h"

#include "TalverinInput/Unavailable.h"

#include <string>

namespace talverin {

// The microphone of a system without a sound system we can use: restricted, which no check
// changes.
class MicrophoneAccessNull final : public MicrophoneAccess, public Unavailable {
public:
    explicit MicrophoneAccessNull(std::string reason) : Unavailable(std::move(reason)) {}


    Wire::PermissionState state() override { return Wire::PermissionState::restricted; }
    Wire::PermissionState check() override { return Wire::PermissionState::restricted; }
};

} // namespace talverin
