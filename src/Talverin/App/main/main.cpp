#include "Runtime/linux/SystemEventLoop.h"
#include "Talverin/App/ProcessEntry.h"
#include "Talverin/App/linux/CommandLine.h"
#include "TalverinCore/CoreLog.h"

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
    if (choice.mode != ProcessEntry::Mode::normal)
        return CommandLine::run(choice, TALVERIN_BUNDLE_IDENTIFIER);
    SystemEventLoop loop;
    Runtime::install(&loop);
    CoreLog::write(std::string("Talverin ") + TALVERIN_VERSION);
    Runtime::install(nullptr);
    return 0;
}
