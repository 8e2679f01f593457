// labels: dbus
#include "TalverinInput/linux/SleepWatcherLogind.h"

#include "../TapTestSupport.h"
#include "FakeBus.h"
#include "support/LinuxTestSupport.h"

#include <gtest/gtest.h>

#include <gio/gunixfdlist.h>
#include <poll.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

// logind's manager and one login session on a private bus, answering on a thread of its own:
// Inhibit hands out the write end of a pipe, so the test sees when the inhibitor is let go.
class FakeLoginManager {
public:
    static constexpr const char* sessionPath = "/org/freedesktop/login1/session/_31";

    explicit FakeLoginManager(const std::string& address) : m_address(address) {
        m_thread = std::thread([this] { run(); });
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return m_started; });
    }
    ~FakeLoginManager() {
        g_main_context_invoke(
            m_context,
            [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            m_loop);
        m_thread.join();
        for (int fd : m_readEnds)
            close(fd);
    }
    FakeLoginManager(const FakeLoginManager&) = delete;
    FakeLoginManager& operator=(const FakeLoginManager&) = delete;

    int inhibitors() const { return m_inhibitors; }
    // Whether the inhibitor handed out last is still held by someone.
    bool lastInhibitorHeld() const {
        std::lock_guard lock(m_mutex);
        if (m_readEnds.empty())
            return false;
        pollfd p{m_readEnds.back(), POLLIN, 0};
        return poll(&p, 1, 0) == 0;
    }
    void emit(const char* path, const char* interface, const char* member, GVariant* args) {
        g_dbus_connection_emit_signal(m_connection, nullptr, path, interface, member, args,
                                      nullptr);
        g_dbus_connection_flush_sync(m_connection, nullptr, nullptr);
    }

private:
    void run() {
        m_context = g_main_context_new();
        g_main_context_push_thread_default(m_context);
        m_loop = g_main_loop_new(m_context, FALSE);
        m_connection = test::connectAndOwn(m_address, "org.freedesktop.login1");
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
            "<node><interface name='org.freedesktop.login1.Manager'>"
            "<method name='Inhibit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
            "<arg type='s' direction='in'/><arg type='s' direction='in'/>"
            "<arg type='h' direction='out'/></method>"
            "<method name='GetSessionByPID'><arg type='u' direction='in'/>"
            "<arg type='o' direction='out'/></method>"
            "</interface></node>",
            nullptr);
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const char*, const char*, const char*, const char* method,
               GVariant*, GDBusMethodInvocation* invocation, gpointer self) {
                auto* fake = static_cast<FakeLoginManager*>(self);
                if (g_str_equal(method, "GetSessionByPID")) {
                    g_dbus_method_invocation_return_value(invocation,
                                                          g_variant_new("(o)", sessionPath));
                    return;
                }
                int fds[2];
                if (pipe(fds) != 0) {
                    g_dbus_method_invocation_return_dbus_error(invocation, "org.Fake.Error",
                                                               "pipe");
                    return;
                }
                GUnixFDList* list = g_unix_fd_list_new_from_array(&fds[1], 1);
                {
                    std::lock_guard lock(fake->m_mutex);
                    fake->m_readEnds.push_back(fds[0]);
                }
                ++fake->m_inhibitors;
                g_dbus_method_invocation_return_value_with_unix_fd_list(
                    invocation, g_variant_new("(h)", 0), list);
                g_object_unref(list);
            },
            nullptr, nullptr, {}};
        const guint registration =
            m_connection ? g_dbus_connection_register_object(m_connection, "/org/freedesktop/login1",
                                                             node->interfaces[0], &vtable, this,
                                                             nullptr, nullptr)
                         : 0;
        g_dbus_node_info_unref(node);
        {
            std::lock_guard lock(m_mutex);
            m_started = true;
        }
        m_ready.notify_all();
        g_main_loop_run(m_loop);
        if (registration)
            g_dbus_connection_unregister_object(m_connection, registration);
        if (m_connection)
            g_object_unref(m_connection);
        g_main_loop_unref(m_loop);
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }

    std::string m_address;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GDBusConnection* m_connection = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    bool m_started = false;
    std::vector<int> m_readEnds;
    std::atomic<int> m_inhibitors{0};
    std::thread m_thread;
};

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

    SleepWatcherLogind watcher(workspace, bus.address(), "none");
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
                               "unix:path=/nonexistent/talverin-bus", "none");
    EXPECT_FALSE(watcher.isWatching());
    EXPECT_TRUE(watcher.unavailableReason().value_or("").starts_with("no system bus ("));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("Sleep: no system bus, sleep and wake-up are not watched (", 0),
              0u);
}

// The inhibitor is held while the machine is awake, still held while the observers of the sleep
// notice run, let go right after them, and taken again on wake-up.
TEST(SleepWatcherLogind, HoldsADelayInhibitorUntilTheSleepNoticeIsHandled) {
    test::RealTimeLoop loop;
    test::PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    FakeLoginManager logind(bus.address());
    auto workspace = std::make_shared<NotificationCenter>();
    std::vector<bool> heldDuringSleepNotice;
    workspace->addObserver(SystemNotification::willSleep,
                           [&] { heldDuringSleepNotice.push_back(logind.lastInhibitorHeld()); });

    SleepWatcherLogind watcher(workspace, bus.address(), "none");
    ASSERT_TRUE(loop.runUntil([&] { return watcher.holdsInhibitor(); }, 60));
    EXPECT_TRUE(logind.lastInhibitorHeld());

    logind.emit("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                g_variant_new("(b)", TRUE));
    ASSERT_TRUE(loop.runUntil([&] { return !heldDuringSleepNotice.empty(); }, 60));
    EXPECT_EQ(heldDuringSleepNotice, std::vector<bool>{true});
    EXPECT_FALSE(watcher.holdsInhibitor());
    EXPECT_FALSE(logind.lastInhibitorHeld());

    logind.emit("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                g_variant_new("(b)", FALSE));
    ASSERT_TRUE(loop.runUntil([&] { return watcher.holdsInhibitor(); }, 60));
    EXPECT_EQ(logind.inhibitors(), 2);
    EXPECT_TRUE(logind.lastInhibitorHeld());
}

// A user switch and a lock of our own session, or the screen saver turning on, take the session
// away; the same of another session, or the screen saver turning off, do not.
TEST(SleepWatcherLogind, SessionSwitchesAndLocksBecomeTheirNotices) {
    test::RealTimeLoop loop;
    test::PrivateBus system;
    test::PrivateBus session;
    ASSERT_FALSE(system.address().empty());
    ASSERT_FALSE(session.address().empty());
    FakeLoginManager logind(system.address());
    GDBusConnection* screenSaver = test::connectAndOwn(session.address(), "org.freedesktop.ScreenSaver");
    ASSERT_NE(screenSaver, nullptr);
    auto workspace = std::make_shared<NotificationCenter>();
    std::vector<std::string> heard;
    for (auto name : {SystemNotification::sessionDidResignActive, SystemNotification::screenIsLocked})
        workspace->addObserver(name, [&heard, name] { heard.emplace_back(name); });

    SleepWatcherLogind watcher(workspace, system.address(), session.address());

    auto properties = [](bool active) {
        GVariantBuilder changed;
        g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&changed, "{sv}", "Active", g_variant_new_boolean(active));
        return g_variant_new("(sa{sv}as)", "org.freedesktop.login1.Session", &changed, nullptr);
    };
    const char* other = "/org/freedesktop/login1/session/_32";
    ASSERT_TRUE(loop.runUntil([&] { return watcher.watchesSession(); }, 60));
    logind.emit(other, "org.freedesktop.DBus.Properties", "PropertiesChanged", properties(false));
    logind.emit(FakeLoginManager::sessionPath, "org.freedesktop.DBus.Properties",
                "PropertiesChanged", properties(true));
    logind.emit(FakeLoginManager::sessionPath, "org.freedesktop.DBus.Properties",
                "PropertiesChanged", properties(false));
    logind.emit(other, "org.freedesktop.login1.Session", "Lock", nullptr);
    logind.emit(FakeLoginManager::sessionPath, "org.freedesktop.login1.Session", "Lock", nullptr);
    // Signals from one sender arrive in order: the last one heard means all were.
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() == 2; }, 60));
    EXPECT_EQ(heard, (std::vector<std::string>{"sessionDidResignActive", "screenIsLocked"}));

    auto saver = [&](bool active) {
        g_dbus_connection_emit_signal(screenSaver, nullptr, "/org/freedesktop/ScreenSaver",
                                      "org.freedesktop.ScreenSaver", "ActiveChanged",
                                      g_variant_new("(b)", active), nullptr);
        g_dbus_connection_flush_sync(screenSaver, nullptr, nullptr);
    };
    saver(false);
    saver(true);
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() == 3; }, 60));
    EXPECT_EQ(heard, (std::vector<std::string>{"sessionDidResignActive", "screenIsLocked",
                                               "screenIsLocked"}));
    g_object_unref(screenSaver);
}

} // namespace
} // namespace talverin
