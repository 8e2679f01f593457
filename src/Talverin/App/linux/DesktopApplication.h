#pragma once

namespace talverin {

// The normal mode of the process on an X11 desktop: one instance per session, the GLib main
// loop, the shell and its services, and an orderly end on the quit item, SIGTERM, SIGINT or
// SIGHUP. Main thread.
namespace DesktopApplication {
// Runs until the application quits; answers the exit code. A second launch in a session
// where one runs asks the first to show itself and answers 0 at once, without a log line.
int run();
} // namespace DesktopApplication

} // namespace talverin
