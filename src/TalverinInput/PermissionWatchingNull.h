#pragma once

#include "TalverinCore/PermissionWatching.h"

#include "TalverinInput/Unavailable.h"

#include <string>

namespace talverin {

// The permission watch of a system that cannot give any permission: every state is
// restricted and never changes, so onChange is never called.
class PermissionWatchingNull final : public PermissionWatching, public Unavailable {
public:
    explicit PermissionWatchingNull(std::string reason) : Unavailable(std::move(reason)) {}


    Wire::Permissions current() const override { return restricted(); }
    void start() override {}
    Wire::Permissions refresh() override { return restricted(); }
    Future<Wire::PermissionState> request(Wire::PermissionKind kind) override;
    // There is no settings page to open.
    void openPane(Wire::PermissionKind) override {}

private:
    static Wire::Permissions restricted();

};

} // namespace talverin
