#pragma once

#include "Runtime/Future.h"
#include "TalverinCore/WirePermissions.h"

#include <functional>

namespace talverin {

// The watched states of the three permissions.
class PermissionWatching {
public:
    virtual ~PermissionWatching() = default;

    // Main thread: a state changed; the new states first, then the old.
    std::function<void(const Wire::Permissions& now, const Wire::Permissions& before)> onChange;

    // Main thread. The states as last read.
    virtual Wire::Permissions current() const = 0;
    // Main thread. Starts watching; the watch never starts by itself.
    virtual void start() = 0;
    // Main thread. Reads the states again now and answers them.
    virtual Wire::Permissions refresh() = 0;
    // Main thread. Asks the user for one permission and answers its state afterwards.
    virtual Future<Wire::PermissionState> request(Wire::PermissionKind kind) = 0;
    // Main thread. Opens the system settings page of one permission.
    virtual void openPane(Wire::PermissionKind kind) = 0;
};

} // namespace talverin
