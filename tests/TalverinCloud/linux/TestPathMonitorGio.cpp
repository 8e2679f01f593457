// labels: tsan
#include "TalverinCloud/linux/PathMonitorGio.h"

#include "TalverinCloud/Connectivity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace talverin {
namespace {

// GIO decides what "available" is on this machine; the monitor must report it once, from its
// own thread, and never again after cancel().
TEST(PathMonitorGioTest, ReportsOnceAtStartAndNothingAfterCancel) {
    PathMonitorGio monitor("app.talverin.Talverin.connectivity");
    std::atomic<int> reports{0};
    std::atomic<bool> offMain{false};
    const auto self = std::this_thread::get_id();
    monitor.start([&](bool) {
        ++reports;
        offMain = std::this_thread::get_id() != self;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reports == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(offMain);
    monitor.cancel();
    monitor.report(false);
    EXPECT_EQ(reports, 1);
    monitor.cancel();
}

TEST(PathMonitorGioTest, CancelBeforeTheThreadRunsDoesNotHang) {
    for (int i = 0; i < 20; ++i) {
        Connectivity connectivity(
            std::make_unique<PathMonitorGio>("app.talverin.Talverin.connectivity"));
        connectivity.start();
    }
}

} // namespace
} // namespace talverin
