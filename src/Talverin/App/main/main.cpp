#include "Runtime/linux/XErrorTrap.h"
#include "Talverin/App/ProcessEntry.h"
#include "Talverin/App/linux/CommandLine.h"
#include "Talverin/App/linux/DesktopApplication.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace talverin;
    // A closed standard error must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::error_code error;
    const auto here = std::filesystem::current_path(error);
    const auto choice = ProcessEntry::choose(std::vector<std::string>(argv + 1, argv + argc), here);
    // The command-line modes touch no display, bus or sound server.
    if (choice.mode != ProcessEntry::Mode::normal)
        return CommandLine::run(choice, TALVERIN_BUNDLE_IDENTIFIER);
    // Xlib guards its shared state only once told to, and the key tap, the inserter and the
    // toolkit each use a connection of their own from different threads: this comes before the
    // toolkit or any other Xlib call.
    XErrorTrap::initThreads();
    return DesktopApplication::run();
}
