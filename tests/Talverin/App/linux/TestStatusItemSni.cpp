// labels: dbus
#include "Talverin/App/linux/StatusItemSni.h"

#include "Talverin/App/linux/StatusBus.h"
#include "TalverinInput/linux/FakeBus.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace talverin {
namespace {

class StatusItemSniTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.address().empty());
        appBus = test::connectTo(bus.address());
        panel = test::connectTo(bus.address());
        ASSERT_TRUE(appBus && panel);
    }
    void TearDown() override {
        item.reset();
        if (appBus)
            g_object_unref(appBus);
        if (panel)
            g_object_unref(panel);
    }

    void makeItem() {
        item = std::make_unique<StatusItemSni>(
            appBus, StatusItemSni::Texts{"Learn", "Setup", "Log", "Quit"});
        item->learningIsOn = [this] { return learning; };
        item->onActivate = [this](int x, int y) {
            heard.push_back("activate " + std::to_string(x) + "," + std::to_string(y));
        };
        item->onToggleLearning = [this] { heard.push_back("learning"); };
        item->onOpenOnboarding = [this] { heard.push_back("onboarding"); };
        item->onOpenLog = [this] { heard.push_back("log"); };
        item->onQuit = [this] { heard.push_back("quit"); };
        // The item answers on the bus once it owns its name, which it asks for without waiting.
        ASSERT_TRUE(loop.runUntil([&] { return nameOwned(item->busName()); }, 60));
    }

    bool nameOwned(const std::string& name) {
        GVariant* reply = g_dbus_connection_call_sync(
            panel, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        gboolean owned = FALSE;
        if (reply) {
            g_variant_get(reply, "(b)", &owned);
            g_variant_unref(reply);
        }
        return owned == TRUE;
    }

    GVariant* call(const char* path, const char* interface, const char* method,
                   GVariant* parameters) {
        return test::callOnLoop(loop, panel, item->busName(), path, interface, method,
                                parameters);
    }

    // The menu's items as "id label [toggle-state]" lines.
    std::vector<std::string> menu() {
        GVariant* reply = call(StatusItemSni::menuPath, "com.canonical.dbusmenu", "GetLayout",
                               g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
        std::vector<std::string> lines;
        if (!reply)
            return lines;
        GVariant* root = g_variant_get_child_value(reply, 1);
        GVariant* children = g_variant_get_child_value(root, 2);
        for (gsize i = 0; i < g_variant_n_children(children); ++i) {
            GVariant* boxed = g_variant_get_child_value(children, i);
            GVariant* child = g_variant_get_variant(boxed);
            gint32 id = 0;
            GVariant* props = nullptr;
            g_variant_get(child, "(i@a{sv}av)", &id, &props, nullptr);
            const char* label = "";
            const char* type = nullptr;
            gint32 state = -1;
            g_variant_lookup(props, "label", "&s", &label);
            g_variant_lookup(props, "type", "&s", &type);
            g_variant_lookup(props, "toggle-state", "i", &state);
            std::string line = std::to_string(id) + " " + (type ? type : label);
            if (state >= 0)
                line += " [" + std::to_string(state) + "]";
            lines.push_back(line);
            g_variant_unref(props);
            g_variant_unref(child);
            g_variant_unref(boxed);
        }
        g_variant_unref(children);
        g_variant_unref(root);
        g_variant_unref(reply);
        return lines;
    }

    test::RealTimeLoop loop;
    test::PrivateBus bus;
    test::LogLines logs;
    GDBusConnection* appBus = nullptr;
    GDBusConnection* panel = nullptr;
    std::unique_ptr<StatusItemSni> item;
    std::vector<std::string> heard;
    bool learning = true;
};

TEST_F(StatusItemSniTest, RegistersWithTheWatcherAndAgainWhenOneAppearsLater) {
    makeItem();
    // No watcher yet: said once, and the item waits.
    ASSERT_TRUE(loop.runUntil([&] { return !logs.starting("Status item:").empty(); }, 60));
    EXPECT_EQ(logs.starting("Status item:"),
              std::vector<std::string>{"Status item: no StatusNotifierWatcher: the popover opens "
                                       "from the pill's menu and on reopen"});
    test::FakeStatusWatcher watcher(bus.address());
    ASSERT_TRUE(loop.runUntil([&] { return !watcher.items.empty(); }, 60));
    EXPECT_EQ(watcher.items, std::vector<std::string>{item->busName()});
    ASSERT_TRUE(loop.runUntil([&] { return logs.count("Status item: registered") == 1; }, 60));
}

TEST_F(StatusItemSniTest, ActivateAndTheMenusItemsReachTheShell) {
    test::FakeStatusWatcher watcher(bus.address());
    makeItem();
    ASSERT_TRUE(loop.runUntil([&] { return !watcher.items.empty(); }, 60));

    GVariant* reply = call(StatusItemSni::itemPath, "org.kde.StatusNotifierItem", "Activate",
                           g_variant_new("(ii)", 1200, 24));
    ASSERT_NE(reply, nullptr);
    g_variant_unref(reply);
    EXPECT_EQ(heard, std::vector<std::string>{"activate 1200,24"});

    EXPECT_EQ(menu(), (std::vector<std::string>{"1 Learn [1]", "2 Setup", "3 Log",
                                                "4 separator", "5 Quit"}));
    heard.clear();
    for (int id : {1, 2, 3, 4, 5}) {
        reply = call(StatusItemSni::menuPath, "com.canonical.dbusmenu", "Event",
                     g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u));
        ASSERT_NE(reply, nullptr);
        g_variant_unref(reply);
    }
    // The separator does nothing; a hover is not a click.
    reply = call(StatusItemSni::menuPath, "com.canonical.dbusmenu", "Event",
                 g_variant_new("(isvu)", 5, "hovered", g_variant_new_int32(0), 0u));
    g_variant_unref(reply);
    EXPECT_EQ(heard, (std::vector<std::string>{"learning", "onboarding", "log", "quit"}));
}

// The check mark is read when the menu is about to show: a change since makes the host fetch
// the layout again.
TEST_F(StatusItemSniTest, AboutToShowReadsTheLearningMarkAgain) {
    makeItem();
    auto aboutToShow = [&] {
        GVariant* reply = call(StatusItemSni::menuPath, "com.canonical.dbusmenu", "AboutToShow",
                               g_variant_new("(i)", 0));
        gboolean update = FALSE;
        if (reply) {
            g_variant_get(reply, "(b)", &update);
            g_variant_unref(reply);
        }
        return update == TRUE;
    };
    EXPECT_FALSE(aboutToShow());
    learning = false;
    EXPECT_TRUE(aboutToShow());
    EXPECT_EQ(menu().front(), "1 Learn [0]");
    EXPECT_FALSE(aboutToShow());
}

// A change of the learning setting, from the menu or elsewhere, is signalled at once: a host
// that caches the menu learns of a new revision and of the item's new check mark.
TEST_F(StatusItemSniTest, ALearningChangeIsSignalledWithANewRevision) {
    makeItem();
    struct Heard {
        std::vector<std::uint32_t> revisions;
        std::vector<std::int32_t> toggles;
    } signals;
    const guint subscription = g_dbus_connection_signal_subscribe(
        panel, nullptr, "com.canonical.dbusmenu", nullptr, StatusItemSni::menuPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char* name,
           GVariant* parameters, gpointer data) {
            auto* heard = static_cast<Heard*>(data);
            if (g_strcmp0(name, "LayoutUpdated") == 0) {
                guint32 revision = 0;
                g_variant_get(parameters, "(ui)", &revision, nullptr);
                heard->revisions.push_back(revision);
            } else if (g_strcmp0(name, "ItemsPropertiesUpdated") == 0) {
                GVariant* updated = g_variant_get_child_value(parameters, 0);
                for (gsize i = 0; i < g_variant_n_children(updated); ++i) {
                    gint32 id = 0;
                    GVariant* props = nullptr;
                    g_variant_get_child(updated, i, "(i@a{sv})", &id, &props);
                    gint32 state = -1;
                    if (id == StatusItemSni::learning)
                        g_variant_lookup(props, "toggle-state", "i", &state);
                    heard->toggles.push_back(state);
                    g_variant_unref(props);
                }
                g_variant_unref(updated);
            }
        },
        &signals, nullptr);
    // The item answers the panel's calls once it is on the bus.
    EXPECT_EQ(menu().front(), "1 Learn [1]");

    learning = false;
    item->learningChanged();
    ASSERT_TRUE(loop.runUntil([&] { return !signals.toggles.empty(); }, 60));
    ASSERT_EQ(signals.revisions.size(), 1u);
    EXPECT_EQ(signals.toggles, std::vector<std::int32_t>{0});
    EXPECT_EQ(menu().front(), "1 Learn [0]");
    // No change, no signal.
    item->learningChanged();
    learning = true;
    item->learningChanged();
    ASSERT_TRUE(loop.runUntil([&] { return signals.toggles.size() == 2; }, 60));
    EXPECT_EQ(signals.toggles, (std::vector<std::int32_t>{0, 1}));
    ASSERT_EQ(signals.revisions.size(), 2u);
    EXPECT_GT(signals.revisions[1], signals.revisions[0]);
    g_dbus_connection_signal_unsubscribe(panel, subscription);
}

TEST_F(StatusItemSniTest, TheIconIsARGBInNetworkByteOrder) {
    makeItem();
    item->setIcon({2, 1, {0xFF, 0x10, 0x20, 0x30, 0x80, 0x01, 0x02, 0x03}});
    GVariant* reply = call(StatusItemSni::itemPath, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", "org.kde.StatusNotifierItem", "IconPixmap"));
    ASSERT_NE(reply, nullptr);
    GVariant* boxed = nullptr;
    g_variant_get(reply, "(v)", &boxed);
    ASSERT_EQ(g_variant_n_children(boxed), 1u);
    gint32 width = 0, height = 0;
    GVariant* bytes = nullptr;
    g_variant_get_child(boxed, 0, "(ii@ay)", &width, &height, &bytes);
    gsize size = 0;
    const auto* data = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(bytes, &size, 1));
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 1);
    EXPECT_EQ(std::vector<std::uint8_t>(data, data + size),
              (std::vector<std::uint8_t>{0xFF, 0x10, 0x20, 0x30, 0x80, 0x01, 0x02, 0x03}));
    g_variant_unref(bytes);
    g_variant_unref(boxed);
    g_variant_unref(reply);
}

} // namespace
} // namespace talverin
