#include "TalverinInsert/Ticking.h"

#include "Runtime/MainQueue.h"

#include <chrono>
#include <thread>

namespace talverin {

Ticking Ticking::system() {
    return {[] { return Clock::uptime(); },
            [](double seconds) {
                if (seconds > 0)
                    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            }};
}

} // namespace talverin
