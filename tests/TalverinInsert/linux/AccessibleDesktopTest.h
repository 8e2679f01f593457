#pragma once

// gtest first: Xlib's macros (None ...) would break its headers.
#include <gtest/gtest.h>

#include "AccessibleDesktop.h"
#include "TalverinInput/linux/AccessibilityStatusWatcher.h"
#include "TalverinInput/linux/AccessibilityTrust.h"
#include "TalverinInsert/linux/AccessibilityAtspi.h"
#include "TextFixture.h"

#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace talverin::test {

// The base of the tests that read the text fixture through the real accessibility backend.
// Each test has its own X server and its own desktop session: a session bus, the accessibility
// bus launched for it, its registry. The order below is what makes the fixture findable: the
// accessibility bus is switched on, its registry is up and the backend's focus listener is
// registered before the fixture starts, so that the fixture's toolkit registers with that
// registry as it starts and announces its focus to the backend; a test then waits for the
// fixture's focus and its registration before it reads anything.
class AccessibleDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty())
            GTEST_SKIP() << "no Xvfb";
        // libatspi connects to one accessibility bus per process and keeps it; the test runner
        // starts each test in a process of its own.
        static bool connectedBefore = false;
        if (std::exchange(connectedBefore, true))
            GTEST_SKIP() << "one accessibility bus per process: run this test on its own";
        desktop = std::make_unique<AccessibleDesktop>(server.display());
        ASSERT_TRUE(desktop->waitForLauncher()) << "no accessibility bus launcher";
        watcher = std::make_shared<AccessibilityStatusWatcher>(nullptr, desktop->busAddress());
        trust = std::make_shared<AccessibilityTrust>(watcher, server.display());
        bool enabled = false;
        std::thread([&] { enabled = trust->requestEnable().ok(); }).join();
        ASSERT_TRUE(enabled);
        ASSERT_TRUE(loop.runUntil([&] { return trust->isGranted(); }, 30));
        ASSERT_TRUE(desktop->startRegistry());
        desktop->watchRegistrations();
        backend = std::make_unique<AccessibilityAtspi>(
            [trust = trust] { return trust->isGranted(); }, server.display(), ownIdentity);
        // The backend listens for focus events; an application that starts before the
        // registry knows that would not announce its focus.
        ASSERT_TRUE(desktop->waitForListeners(1));
    }

    // Starts the fixture and waits until it holds the focus and has registered.
    std::unique_ptr<TextFixture> start(const std::string& focus, const std::string& initial = {},
                                       const std::string& selection = {},
                                       const std::string& windowClass = {}) {
        auto fixture =
            std::make_unique<TextFixture>(server.display(), focus, initial, selection, windowClass);
        EXPECT_TRUE(fixture->waitFor("ready"));
        EXPECT_TRUE(desktop->waitForRegistration());
        return fixture;
    }

    static constexpr const char* ownIdentity = "org.example.talverin-under-test";

    RealTimeLoop loop;
    PrivateXServer server;
    std::unique_ptr<AccessibleDesktop> desktop;
    std::shared_ptr<AccessibilityStatusWatcher> watcher;
    std::shared_ptr<AccessibilityTrust> trust;
    std::unique_ptr<AccessibilityAtspi> backend;
};

} // namespace talverin::test
