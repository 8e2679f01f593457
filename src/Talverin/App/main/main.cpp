#include "Runtime/linux/SystemEventLoop.h"
#include "TalverinCore/CoreLog.h"

#include <csignal>
#include <string>

int main() {
    // A closed standard error must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    talverin::SystemEventLoop loop;
    talverin::Runtime::install(&loop);
    talverin::CoreLog::write(std::string("Talverin ") + TALVERIN_VERSION);
    talverin::Runtime::install(nullptr);
    return 0;
}
