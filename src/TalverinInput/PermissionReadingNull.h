#pragma once

#include "TalverinInput/PermissionReading.h"

#include "TalverinInput/Unavailable.h"

#include <string>

namespace talverin {

// The permissions of a system that cannot give any of them (no display server, no session
// bus, no sound server): every permission is restricted, which no asking changes.
class PermissionReadingNull final : public PermissionReading, public Unavailable {
public:
    explicit PermissionReadingNull(std::string reason) : Unavailable(std::move(reason)) {}


    Wire::PermissionState state(Wire::PermissionKind) override {
        return Wire::PermissionState::restricted;
    }
    Future<Wire::PermissionState> request(Wire::PermissionKind kind) override;
};

} // namespace talverin
