#include "Runtime/ThreadName.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <pthread.h>

namespace talverin {
namespace {

std::string nameOf(std::thread& thread) {
    char name[64] = {};
    pthread_getname_np(thread.native_handle(), name, sizeof name);
    return name;
}

// The kernel keeps 15 bytes; a longer name must be cut, not refused and lost.
TEST(ThreadName, NamesTheCallingThreadCuttingALongName) {
    const struct {
        std::string given;
        std::string kept;
    } cases[] = {
        {"Talverin.Tap", "Talverin.Tap"},
        {"Talverin.KeyTap", "Talverin.KeyTap"},
        {"Talverin.NetworkPath", "Talverin.Networ"},
    };
    for (const auto& c : cases) {
        std::string seen;
        bool named = false;
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        std::thread thread([&] {
            nameCurrentThread(c.given);
            std::unique_lock lock(mutex);
            named = true;
            changed.notify_all();
            changed.wait(lock, [&] { return done; });
        });
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return named; });
            seen = nameOf(thread);
            done = true;
            changed.notify_all();
        }
        thread.join();
        EXPECT_EQ(seen, c.kept);
    }
}

} // namespace
} // namespace talverin
