// labels: x11 dbus
#include "Talverin/App/linux/ShellWindowsGtk.h"

#include "Runtime/DefaultsStore.h"
#include "Talverin/App/linux/StatusBus.h"
#include "TalverinCore/HistoryStore.h"
#include "TalverinInput/linux/FakeBus.h"
#include "fakes/UrlOpeningFake.h"
#include "support/LinuxTestSupport.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

namespace talverin {
namespace {

class ShellWindowsGtkTest;

// A page that is a label and remembers the edit commands it was given.
class LabelPage final : public ShellWindowsGtk::Page {
public:
    explicit LabelPage(ShellWindowsGtkTest* test) : m_test(test) {}
    GtkWidget* view() override {
        if (!m_label)
            m_label = gtk_label_new("page");
        return m_label;
    }
    void setTheme(ThemeSetting) override {}
    void edit(EditAction action) override;

private:
    ShellWindowsGtkTest* m_test;
    GtkWidget* m_label = nullptr;
};

// The windows on an X server and a session bus of the test's own, with a panel that clicks
// the status item as a desktop would.
class ShellWindowsGtkTest : public ::testing::Test {
protected:
    // GTK keeps the display it was first opened on for the life of the process: every test of
    // this program shares one X server.
    static test::PrivateXServer& xserver() {
        static auto* server = new test::PrivateXServer;
        return *server;
    }

    void SetUp() override {
        ASSERT_FALSE(xserver().display().empty()) << "no Xvfb";
        ASSERT_FALSE(bus.address().empty());
        setenv("DISPLAY", xserver().display().c_str(), 1);
        setenv("LANGUAGE", "en", 1);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
        appBus = test::connectTo(bus.address());
        panel = test::connectTo(bus.address());
        history = std::make_shared<HistoryStore>(temp.path() / "history.json");
        bridge = std::make_unique<Bridge>(defaults, history);
        bridge->recordsEvents = true;
        // Plain labels stand in for the web pages: the windows' behaviour is under test here.
        auto makePage = [this](Bridge&, const ShellWindowsGtk::PageOptions& options) {
            pages.push_back(options.route);
            return std::make_unique<LabelPage>(this);
        };
        windows = std::make_unique<ShellWindowsGtk>(appBus, makePage,
                                                    std::make_shared<test::UrlOpeningFake>());
        windows->install(*bridge);
        ASSERT_TRUE(loop.runUntil([&] { return !watcher->items.empty(); }, 60));
    }
    void TearDown() override {
        windows.reset();
        if (appBus)
            g_object_unref(appBus);
        if (panel)
            g_object_unref(panel);
    }

    void activate() {
        GVariant* reply =
            test::callOnLoop(loop, panel, windows->statusItem()->busName(),
                             StatusItemSni::itemPath, "org.kde.StatusNotifierItem", "Activate",
                             g_variant_new("(ii)", 320, 10));
        ASSERT_NE(reply, nullptr);
        g_variant_unref(reply);
    }

    std::vector<Wire::Event::Kind> mainPageEvents() const {
        std::vector<Wire::Event::Kind> kinds;
        for (const auto& event : bridge->sent)
            if (event.kind() == Wire::Event::Kind::shown ||
                event.kind() == Wire::Event::Kind::hidden)
                kinds.push_back(event.kind());
        return kinds;
    }

    test::TempDir temp;
    test::PrivateBus bus;
    test::RealTimeLoop loop;
    test::LogLines logs;
    std::unique_ptr<test::FakeStatusWatcher> watcher =
        std::make_unique<test::FakeStatusWatcher>(bus.address());
    GDBusConnection* appBus = nullptr;
    GDBusConnection* panel = nullptr;
    DefaultsStoreMemory defaults;
    std::shared_ptr<HistoryStore> history;
    std::unique_ptr<Bridge> bridge;
    std::unique_ptr<ShellWindowsGtk> windows;
    std::vector<std::string> pages;
    std::vector<EditAction> edits;

public:
    void edited(EditAction action) { edits.push_back(action); }
};

void LabelPage::edit(EditAction action) { m_test->edited(action); }

TEST_F(ShellWindowsGtkTest, AClickOnTheItemShowsThePopoverAndASecondHidesIt) {
    activate();
    ASSERT_TRUE(loop.runUntil([&] { return windows->isPopoverShown(); }, 60));
    EXPECT_EQ(mainPageEvents(), std::vector<Wire::Event::Kind>{Wire::Event::Kind::shown});

    activate();
    ASSERT_TRUE(loop.runUntil([&] { return !windows->isPopoverShown(); }, 60));
    EXPECT_EQ(mainPageEvents(), (std::vector<Wire::Event::Kind>{Wire::Event::Kind::shown,
                                                                Wire::Event::Kind::hidden}));
}

// The popover's page, and the web processes behind it, exist only once the popover was first
// shown, and then for good; what is pushed to it before is dropped.
TEST_F(ShellWindowsGtkTest, ThePopoversPageIsBuiltOnItsFirstShowingAndKept) {
    windows->setTheme(ThemeSetting::dark);
    EXPECT_TRUE(pages.empty());
    EXPECT_EQ(windows->popoverPage(), nullptr);
    windows->showPopover();
    EXPECT_EQ(pages, std::vector<std::string>{"popover"});
    auto* page = windows->popoverPage();
    windows->closePopover();
    windows->showPopover();
    windows->closePopover();
    EXPECT_EQ(pages, std::vector<std::string>{"popover"});
    EXPECT_EQ(windows->popoverPage(), page);
}

TEST_F(ShellWindowsGtkTest, TheOnboardingWindowKeepsItsPageUntilItCloses) {
    windows->showOnboarding(std::nullopt, true);
    ASSERT_TRUE(windows->hasOnboarding());
    EXPECT_TRUE(windows->onboardingOnScreen());
    // A later call with a step only brings the same window forward.
    windows->showOnboarding(4, true);
    EXPECT_EQ(logs.count("Onboarding: opened"), 1);

    windows->closeOnboarding();
    EXPECT_FALSE(windows->hasOnboarding());
    EXPECT_EQ(logs.count("Onboarding: closed"), 1);
    windows->showOnboarding(4, false);
    EXPECT_EQ(logs.count("Onboarding: opened"), 2);
    EXPECT_EQ(pages, (std::vector<std::string>{"onboarding", "onboarding?step=4"}));
}

// A window that covers the onboarding window takes it off screen; uncovered, it is back.
TEST_F(ShellWindowsGtkTest, ACoveredOnboardingWindowIsNotOnScreen) {
    int changes = 0;
    windows->onScreenChange = [&] { ++changes; };
    windows->showOnboarding(std::nullopt, true);
    ASSERT_TRUE(loop.runUntil([&] { return changes > 0 && windows->onboardingOnScreen(); }, 60));

    GtkWidget* cover = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_move(GTK_WINDOW(cover), -2000, -2000);
    gtk_window_resize(GTK_WINDOW(cover), 8000, 8000);
    gtk_widget_show(cover);
    EXPECT_TRUE(loop.runUntil([&] { return !windows->onboardingOnScreen(); }, 60));
    gtk_widget_destroy(cover);
    EXPECT_TRUE(loop.runUntil([&] { return windows->onboardingOnScreen(); }, 60));
    windows->onScreenChange = nullptr;
}

// The onboarding window takes the keys while it has the focus, and no longer once another
// window has taken it.
TEST_F(ShellWindowsGtkTest, TheOnboardingWindowIsKeyOnlyWhileItHasTheFocus) {
    EXPECT_FALSE(windows->onboardingIsKey());
    windows->showOnboarding(std::nullopt, true);
    ASSERT_TRUE(loop.runUntil([&] { return windows->onboardingIsKey(); }, 60));

    GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(other);
    gtk_window_present(GTK_WINDOW(other));
    EXPECT_TRUE(loop.runUntil([&] { return !windows->onboardingIsKey(); }, 60));
    gtk_widget_destroy(other);
    windows->closeOnboarding();
    EXPECT_FALSE(windows->onboardingIsKey());
}

// A key press as the X server delivers it to the window: its keycode in the current layout.
bool press(GtkWidget* window, guint keyval, guint state) {
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (!gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()),
                                           keyval, &keys, &count) ||
        count == 0)
        return false;
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->key.keyval = keyval;
    event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    event->key.group = static_cast<guint8>(keys[0].group);
    event->key.state = state;
    gdk_event_set_device(event, gdk_seat_get_keyboard(
                                    gdk_display_get_default_seat(gdk_display_get_default())));
    g_free(keys);
    gtk_widget_event(window, event);
    gdk_event_free(event);
    return true;
}

TEST_F(ShellWindowsGtkTest, ThePopoversKeysEditThePageQuitOrCloseIt) {
    int quits = 0;
    windows->onQuit = [&] { ++quits; };
    windows->showPopover();
    ASSERT_TRUE(windows->isPopoverShown());
    GtkWidget* popover = gtk_widget_get_toplevel(windows->popoverWidget());
    struct Case {
        guint keyval;
        guint state;
        std::vector<EditAction> edits;
        int quits;
    };
    const std::vector<Case> cases = {
        {GDK_KEY_c, GDK_CONTROL_MASK, {EditAction::copy}, 0},
        {GDK_KEY_z, GDK_CONTROL_MASK | GDK_SHIFT_MASK, {EditAction::redo}, 0},
        {GDK_KEY_a, GDK_CONTROL_MASK, {EditAction::selectAll}, 0},
        {GDK_KEY_c, GDK_CONTROL_MASK | GDK_MOD1_MASK, {}, 0},
        {GDK_KEY_c, 0, {}, 0},
        {GDK_KEY_q, GDK_CONTROL_MASK, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(gdk_keyval_name(c.keyval));
        edits.clear();
        quits = 0;
        ASSERT_TRUE(press(popover, c.keyval, c.state));
        EXPECT_EQ(edits, c.edits);
        EXPECT_EQ(quits, c.quits);
    }
    ASSERT_TRUE(press(popover, GDK_KEY_Escape, 0));
    EXPECT_FALSE(windows->isPopoverShown());
    EXPECT_EQ(bridge->sent.back().kind(), Wire::Event::Kind::hidden);
}

} // namespace
} // namespace talverin

namespace talverin {
namespace {

// The panels take straight alpha: a half-covered edge pixel keeps the full colour of the tint.
TEST(ShellWindowsGtkIcon, PixmapsCarryTheTintAtEveryCoverage) {
    struct Case {
        MenuBarIcon::Frame frame;
        MenuBarIcon::Tint tint;
        std::uint8_t colour;
    };
    const Case cases[] = {
        {MenuBarIcon::Idle{}, MenuBarIcon::Tint::white, 0xFF},
        {MenuBarIcon::Idle{}, MenuBarIcon::Tint::black, 0x00},
        {MenuBarIcon::Listening{MenuBarIcon::restingBars}, MenuBarIcon::Tint::white, 0xFF},
    };
    for (const Case& c : cases) {
        const auto icon = ShellWindowsGtk::pixmapOf(MenuBarIcon::image(c.frame), c.tint);
        ASSERT_EQ(icon.width, ShellWindowsGtk::statusIconPixels);
        ASSERT_EQ(icon.height, ShellWindowsGtk::statusIconPixels);
        ASSERT_EQ(icon.argb.size(), static_cast<std::size_t>(icon.width * icon.height * 4));
        int covered = 0, partly = 0;
        for (std::size_t i = 0; i < icon.argb.size(); i += 4) {
            const std::uint8_t alpha = icon.argb[i];
            if (alpha == 0)
                continue;
            ++covered;
            partly += alpha < 0xFF;
            for (std::size_t k = 1; k < 4; ++k)
                ASSERT_NEAR(icon.argb[i + k], c.colour, 1) << "pixel " << i / 4;
        }
        EXPECT_GT(covered, 0);
        EXPECT_GT(partly, 0) << "the edges are smoothed";
    }
}

} // namespace
} // namespace talverin
