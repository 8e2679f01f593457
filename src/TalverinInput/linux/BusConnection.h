#pragma once

#include <string>

#include <gio/gio.h>

namespace talverin {

// A D-Bus connection as the Linux backends use it: the shared session or system bus, or, for
// tests, the bus at `address`. Returns a new reference, or null with `error` set.
GDBusConnection* openBusConnection(GBusType type, const std::string& address, GError** error);

// Waits for one answer of the bus daemon. Messages reach the daemon in order, so a signal
// subscription made before this is in force once it returns: no signal sent later is missed.
void settleBusConnection(GDBusConnection* connection);

} // namespace talverin
