// labels: dbus
#include "TalverinInput/linux/SleepWatcherLogind.h"

#include "../TapTestSupport.h"
#include "FakeBus.h"
#include "support/LinuxTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talverin {
namespace {

TEST(SleepWatcherLogind, TurnsPrepareForSleepIntoSleepAndWakeNotices) {
    test::RealTimeLoop loop;
    test::PrivateBus bus;
    if (bus.address().empty())
        GTEST_SKIP() << "no dbus-daemon";
    test::FakeLogind logind(bus.address());
    auto workspace = std::make_shared<NotificationCenter>();
    std::vector<std::string> heard;
    workspace->addObserver(SystemNotification::willSleep, [&] { heard.push_back("willSleep"); });
    workspace->addObserver(SystemNotification::didWake, [&] { heard.push_back("didWake"); });

    SleepWatcherLogind watcher(workspace, bus.address());
    ASSERT_TRUE(watcher.isWatching());
    EXPECT_EQ(watcher.unavailableReason(), std::nullopt);
    logind.prepareForSleep(true);
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() == 1; }));
    logind.prepareForSleep(false);
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() == 2; }));
    EXPECT_EQ(heard, (std::vector<std::string>{"willSleep", "didWake"}));
}

TEST(SleepWatcherLogind, WithoutABusItSaysSoOnceAndStaysIdle) {
    test::RealTimeLoop loop;
    test::LogLines log;
    SleepWatcherLogind watcher(std::make_shared<NotificationCenter>(),
                               "unix:path=/nonexistent/talverin-bus");
    EXPECT_FALSE(watcher.isWatching());
    EXPECT_TRUE(watcher.unavailableReason().value_or("").starts_with("no system bus ("));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("Sleep: no system bus, sleep and wake-up are not watched (", 0),
              0u);
}

} // namespace
} // namespace talverin
