#include "Runtime/ThreadName.h"

#include <string>

#include <pthread.h>

namespace talverin {

void nameCurrentThread(std::string_view name) {
    // pthread_setname_np refuses a name past the kernel's 16 bytes with its terminator.
    constexpr std::size_t longest = 15;
    const std::string kept(name.substr(0, longest));
    pthread_setname_np(pthread_self(), kept.c_str());
}

} // namespace talverin
