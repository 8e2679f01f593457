#include "TalverinInput/PermissionsMonitor.h"

#include "Runtime/Task.h"
#include "Runtime/VirtualWorld.h"
#include "TapTestSupport.h"
#include "fakes/PermissionReadingFake.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Wire::PermissionKind;
using Wire::Permissions;
using Wire::PermissionState;
using enum Wire::PermissionState;

class PermissionsMonitorTest : public ::testing::Test {
protected:
    PermissionsMonitorTest() {
        reader->states = Permissions{granted, denied, granted};
        monitor = std::make_unique<PermissionsMonitor>(
            reader, PermissionsMonitor::fastPoll, PermissionsMonitor::slowPoll, accessibility, app,
            workspace, [] { return Clock::uptime(); },
            [this](const std::string& address) {
                opened.push_back(address);
                return true;
            });
        monitor->onChange = [this](const Permissions& now, const Permissions& before) {
            changes.emplace_back(now, before);
        };
    }

    // When each full read of the three states began.
    std::vector<double> reads() const {
        std::vector<double> starts;
        const auto times = reader->log.times("state");
        for (std::size_t i = 0; i < times.size(); i += 3)
            starts.push_back(times[i]);
        return starts;
    }

    std::vector<double> readsSince(double since) const {
        std::vector<double> later;
        for (double t : reads())
            if (t > since)
                later.push_back(t);
        return later;
    }

    VirtualWorld world; // uptime 1000
    test::LogLines log;
    std::shared_ptr<test::PermissionReadingFake> reader =
        std::make_shared<test::PermissionReadingFake>();
    std::shared_ptr<NotificationCenter> accessibility = std::make_shared<NotificationCenter>();
    std::shared_ptr<NotificationCenter> app = std::make_shared<NotificationCenter>();
    std::shared_ptr<NotificationCenter> workspace = std::make_shared<NotificationCenter>();
    std::vector<std::string> opened;
    std::vector<std::pair<Permissions, Permissions>> changes;
    std::unique_ptr<PermissionsMonitor> monitor;
};

// Each gap between reads is the period, within the 20 % the poll timer may be late.
void expectPeriod(const std::vector<double>& reads, double period) {
    ASSERT_GE(reads.size(), 2u);
    for (std::size_t i = 1; i < reads.size(); ++i) {
        EXPECT_GE(reads[i] - reads[i - 1], period - 1e-9) << "read " << i;
        EXPECT_LE(reads[i] - reads[i - 1], period * 1.2) << "read " << i;
    }
}

TEST_F(PermissionsMonitorTest, ReadsOnceAtCreationAndWatchesNothingUntilStarted) {
    EXPECT_EQ(monitor->current(), (Permissions{granted, denied, granted}));
    EXPECT_EQ(reader->log.names(), (std::vector<std::string>{"state", "state", "state"}));
    EXPECT_EQ(reader->log.calls()[0].args, "microphone");
    EXPECT_EQ(reader->log.calls()[2].args, "speech");
    accessibility->post(PermissionsMonitor::accessibilityNotification);
    world.runUntil(1010);
    EXPECT_EQ(reads().size(), 1u);
}

TEST_F(PermissionsMonitorTest,
       PollsFastWithoutAccessibilitySlowWithItAndFastAgainWhenTheUserIsAsked) {
    monitor->start();
    world.runUntil(1002);
    // The reads at creation and at start() are both at 1000.
    expectPeriod(readsSince(1000), 0.5);

    reader->states.accessibility = granted;
    world.runUntil(1002.5);
    ASSERT_EQ(monitor->current().accessibility, granted);
    world.runUntil(1010);
    expectPeriod(readsSince(1002.4), 2.0);

    // Sending the user to grant something, or asking, polls fast again for the boost window.
    const std::vector<std::function<void()>> boosts = {
        [this] { monitor->openPane(PermissionKind::microphone); },
        [this] { (void)monitor->request(PermissionKind::microphone); },
    };
    for (const auto& boost : boosts) {
        const double boostStart = Clock::uptime();
        boost();
        world.runUntil(boostStart + 10);
        expectPeriod(readsSince(boostStart + 0.01), 0.5);
        world.runUntil(boostStart + PermissionsMonitor::boostWindow + 10);
        // The first read after the window moves the poll back to the slow period.
        expectPeriod(readsSince(boostStart + PermissionsMonitor::boostWindow), 2.0);
    }
    EXPECT_EQ(opened, std::vector<std::string>{"gnome-control-center:sound?Privacy_Microphone"});
}

TEST_F(PermissionsMonitorTest, StartTwiceRegistersOnceAndStopUndoesEverything) {
    monitor->start();
    monitor->start();
    const std::size_t afterStart = reads().size();
    app->post(SystemNotification::didBecomeActive);
    EXPECT_EQ(reads().size(), afterStart + 1);
    workspace->post(SystemNotification::didWake);
    EXPECT_EQ(reads().size(), afterStart + 2);
    accessibility->post(PermissionsMonitor::microphoneNotification);
    EXPECT_EQ(reads().size(), afterStart + 3);

    monitor->stop();
    monitor->stop();
    app->post(SystemNotification::didBecomeActive);
    workspace->post(SystemNotification::didWake);
    accessibility->post(PermissionsMonitor::accessibilityNotification);
    accessibility->post(PermissionsMonitor::microphoneNotification);
    world.runUntil(1100);
    EXPECT_EQ(reads().size(), afterStart + 3);

    // It can be started again, with a timer of its own.
    monitor->start();
    world.runUntil(1101);
    EXPECT_EQ(readsSince(1099), (std::vector<double>{1100, 1100.5, 1101}));
}

TEST_F(PermissionsMonitorTest, TheAccessibilityNoticeReadsAtOnceAndTwiceMore) {
    reader->states.accessibility = granted;
    monitor->start();
    world.runUntil(1000.9);
    accessibility->post(PermissionsMonitor::accessibilityNotification);
    world.runUntil(1002.5);
    // The slow poll fires at 1002; the notice adds 0.9, 1.15 and 1.9.
    EXPECT_EQ(readsSince(1000.5), (std::vector<double>{1000.9, 1001.15, 1001.9, 1002}));

    // After stop() the delayed reads do nothing.
    accessibility->post(PermissionsMonitor::accessibilityNotification);
    monitor->stop();
    world.runUntil(1010);
    EXPECT_EQ(readsSince(1002.4), std::vector<double>{1002.5});
}

TEST_F(PermissionsMonitorTest, ChangesAreLoggedInKindOrderAndReportedOnce) {
    monitor->start();
    EXPECT_TRUE(changes.empty());
    monitor->refresh();
    EXPECT_TRUE(changes.empty()) << "a refresh without a change says nothing";

    reader->states = Permissions{denied, granted, notDetermined};
    EXPECT_EQ(monitor->refresh(), (Permissions{denied, granted, notDetermined}));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].first, (Permissions{denied, granted, notDetermined}));
    EXPECT_EQ(changes[0].second, (Permissions{granted, denied, granted}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "Permissions: microphone granted \u2192 denied",
                               "Permissions: accessibility denied \u2192 granted",
                               "Permissions: speech granted \u2192 notDetermined",
                           }));
}

Task<void> ask(PermissionsMonitor* monitor, PermissionKind kind, PermissionState* answer) {
    *answer = co_await monitor->request(kind);
}

TEST_F(PermissionsMonitorTest, ARequestAnswersWhatTheReaderSaidAndTheChangeComesThroughOnChange) {
    monitor->start();
    reader->holdRequests = true;
    reader->requestAnswer = denied; // as right after the prompt
    PermissionState answer = notDetermined;
    auto task = ask(monitor.get(), PermissionKind::accessibility, &answer);
    task.start();
    world.runReady();
    EXPECT_EQ(reader->log.count("request"), 1u);
    EXPECT_EQ(answer, notDetermined);

    // The grant has arrived by the time the system answers.
    reader->states.accessibility = granted;
    reader->answerRequests();
    world.runReady();
    EXPECT_EQ(answer, denied);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].first.accessibility, granted);
    EXPECT_TRUE(task.done());
}

TEST_F(PermissionsMonitorTest, ARequestOutlivingTheMonitorStillAnswers) {
    reader->holdRequests = true;
    PermissionState answer = notDetermined;
    auto task = ask(monitor.get(), PermissionKind::speech, &answer);
    task.start();
    world.runReady();
    monitor.reset();
    reader->answerRequests();
    world.runUntilIdle();
    EXPECT_EQ(answer, granted);
}

TEST(PermissionsMonitorRules, PollIntervalAndChanges) {
    const Permissions missing{granted, denied, granted};
    const Permissions all{granted, granted, granted};
    EXPECT_EQ(PermissionsMonitor::pollInterval(missing, false, 0.5, 2), 0.5);
    EXPECT_EQ(PermissionsMonitor::pollInterval(all, true, 0.5, 2), 0.5);
    EXPECT_EQ(PermissionsMonitor::pollInterval(all, false, 0.5, 2), 2);
    EXPECT_EQ(
        PermissionsMonitor::pollInterval(Permissions{denied, granted, restricted}, false, 0.5, 2),
        2)
        << "only Accessibility decides";

    EXPECT_TRUE(PermissionsMonitor::changes(all, all).empty());
    using C = PermissionsMonitor::Change;
    EXPECT_EQ(PermissionsMonitor::changes(all, Permissions{denied, granted, restricted}),
              (std::vector<C>{{PermissionKind::microphone, granted, denied},
                              {PermissionKind::speech, granted, restricted}}));
}

} // namespace
} // namespace talverin
