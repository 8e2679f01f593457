#include "Runtime/linux/XErrorTrap.h"
#include "Talverin/App/linux/DesktopApplication.h"

#include <csignal>

int main() {
    // A closed standard error must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Xlib guards its shared state only once told to, and the key tap, the inserter and the
    // toolkit each use a connection of their own from different threads: this comes before the
    // toolkit or any other Xlib call.
    talverin::XErrorTrap::initThreads();
    return talverin::DesktopApplication::run();
}
