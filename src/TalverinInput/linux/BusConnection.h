#pragma once

#include "TalverinInput/linux/GioHandles.h"

#include <string>

#include <gio/gio.h>

namespace talverin {

// A D-Bus connection as the Linux backends use it: the shared session or system bus, or, for
// tests, the bus at `address`. Null with `error` set when there is none.
GObjectPtr<GDBusConnection> openBusConnection(GBusType type, const std::string& address,
                                              GErrorPtr& error);

// Waits for one answer of the bus daemon. Messages reach the daemon in order, so a signal
// subscription made before this is in force once it returns: no signal sent later is missed.
void settleBusConnection(GDBusConnection* connection);

// Why there is no connection, for a log line.
std::string busErrorText(const GErrorPtr& error);

} // namespace talverin
