// labels: x11 webkit
// timeout: 300
#include "Talverin/App/linux/ShellWindowsGtk.h"

#include "Runtime/DefaultsStore.h"
#include "Runtime/SerialQueue.h"
#include "TalverinCore/HistoryStore.h"
#include "TalverinInsert/linux/PasteboardX11.h"
#include "fakes/UrlOpeningFake.h"
#include "support/LinuxTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Xlib's macros come after gtest's headers.
#include "Talverin/App/linux/Screen.h"

#include <gdk/gdkx.h>

namespace talverin {
namespace {

// The popover with its real page on an X server of the test's own, judged from the screen:
// what the server shows where the popover is, read by another client, with and without a
// window manager.
class PopoverOnScreen : public ::testing::TestWithParam<bool> {
protected:
    // GTK keeps the display it first opened for the life of the process; each test runs in a
    // process of its own.
    static test::PrivateXServer& xserver() {
        static auto* server = new test::PrivateXServer;
        return *server;
    }

    void SetUp() override {
        ASSERT_FALSE(xserver().display().empty()) << "no Xvfb";
        setenv("DISPLAY", xserver().display().c_str(), 1);
        setenv("LANGUAGE", "en", 1);
        std::filesystem::create_directories(temp.home());
        setenv("HOME", temp.home().c_str(), 1);
        screen = std::make_unique<test::Screen>(xserver().display());
        ASSERT_TRUE(screen->isOpen());
        if (withWindowManager()) {
            windowManager = std::make_unique<test::Program>(
                xserver().display(), std::initializer_list<const char*>{"openbox", "--sm-disable"});
            ASSERT_TRUE(loop.runUntil([&] { return screen->hasWindowManager(); }, 60))
                << "openbox did not start";
        }
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
        history = std::make_shared<HistoryStore>(temp.path() / "history.json");
        bridge = std::make_unique<Bridge>(defaults, history);
        bridge->recordsEvents = true;
        windows = std::make_unique<ShellWindowsGtk>(
            nullptr, ShellWindowsGtk::webPages(opener, defaults), opener);
        windows->install(*bridge);
    }
    void TearDown() override {
        windows.reset();
        windowManager.reset();
    }
    bool withWindowManager() const { return GetParam(); }

    // The popover as the screen shows it; none while no such window is viewable.
    std::optional<test::ScreenRect> popoverOnScreen() {
        return screen->viewableWindow("Talverin", ShellWindowsGtk::popoverWidth);
    }
    // Waits until the screen shows the page in the popover: its text makes many colours where
    // an empty window shows one.
    bool pageDrawn(double seconds = 60) {
        return loop.runUntil(
            [&] {
                auto rect = popoverOnScreen();
                return rect && screen->colours(*rect) > drawnColours;
            },
            seconds);
    }
    bool popoverGone(double seconds = 60) {
        return loop.runUntil([&] { return !popoverOnScreen() && !windows->isPopoverShown(); },
                             seconds);
    }
    int hiddenEvents() const {
        int count = 0;
        for (const auto& event : bridge->sent)
            count += event.kind() == Wire::Event::Kind::hidden;
        return count;
    }

    // Runs an async function body in the popover's page and answers its result as a string.
    std::string run(const std::string& body) {
        auto* view = WEBKIT_WEB_VIEW(gtk_bin_get_child(GTK_BIN(windows->popoverWidget())));
        auto answer = std::make_shared<std::optional<std::string>>();
        auto* holder = new std::shared_ptr<std::optional<std::string>>(answer);
        webkit_web_view_call_async_javascript_function(
            view, body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* out = static_cast<std::shared_ptr<std::optional<std::string>>*>(data);
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                    WEBKIT_WEB_VIEW(source), result, &error);
                if (value) {
                    char* text = jsc_value_to_string(value);
                    **out = text;
                    g_free(text);
                    g_object_unref(value);
                } else {
                    **out = std::string("script error: ") + (error ? error->message : "");
                    g_clear_error(&error);
                }
                delete out;
            },
            holder);
        loop.runUntil([&] { return answer->has_value(); }, 60);
        return answer->value_or("(no answer)");
    }

    static constexpr int drawnColours = 30;

    test::TempDir temp;
    test::RealTimeLoop loop;
    std::unique_ptr<test::Screen> screen;
    std::unique_ptr<test::Program> windowManager;
    DefaultsStoreMemory defaults;
    std::shared_ptr<HistoryStore> history;
    std::unique_ptr<Bridge> bridge;
    std::shared_ptr<test::UrlOpeningFake> opener = std::make_shared<test::UrlOpeningFake>();
    std::unique_ptr<ShellWindowsGtk> windows;
};

// Opened, the popover shows its page at once (never its bare background) and stays, whatever
// the focus does while it is handed over; a press outside it closes it.
TEST_P(PopoverOnScreen, ShowsItsPageAndStaysUntilAPressOutside) {
    windows->showPopover();
    ASSERT_TRUE(pageDrawn()) << "the popover never showed its page";
    // A focus that comes and goes while the popover is handed the focus must not close it.
    loop.runFor(0.5);
    const auto rect = popoverOnScreen();
    ASSERT_TRUE(rect) << "the popover closed itself";
    EXPECT_TRUE(windows->isPopoverShown());
    EXPECT_EQ(hiddenEvents(), 0);

    // A press on the screen beside the popover.
    const int x = rect->x > 40 ? rect->x / 2 : rect->x + rect->width + 40;
    ASSERT_TRUE(test::clickAt(xserver().display(), x, 20));
    ASSERT_TRUE(popoverGone()) << "a press outside did not close the popover";
    EXPECT_EQ(hiddenEvents(), 1);
}

// The focus taken by another application's window closes the popover.
TEST_P(PopoverOnScreen, ClosesWhenAnotherWindowTakesTheFocus) {
    windows->showPopover();
    ASSERT_TRUE(pageDrawn());
    screen->focusWindowOfAnotherClient();
    ASSERT_TRUE(popoverGone()) << "the popover stayed over the window that took the focus";
    EXPECT_EQ(hiddenEvents(), 1);
}

// Closed by the window manager's close request, the popover closes as every other way does:
// the page is told it is hidden, and it opens again with its page.
TEST_P(PopoverOnScreen, TheWindowManagersCloseIsTheOneClose) {
    int changes = 0;
    windows->onScreenChange = [&] { ++changes; };
    windows->showPopover();
    ASSERT_TRUE(pageDrawn());
    const int before = changes;
    GdkWindow* window = gtk_widget_get_window(windows->popoverWidget());
    ASSERT_TRUE(screen->askToClose(gdk_x11_window_get_xid(window)));
    ASSERT_TRUE(popoverGone());
    EXPECT_EQ(hiddenEvents(), 1);
    EXPECT_GT(changes, before) << "the microphone test was not told";

    windows->showPopover();
    EXPECT_TRUE(pageDrawn());
    windows->onScreenChange = nullptr;
}

// Closed and opened again before the focus-out of the closing is handled (a busy machine, a
// slow window manager, a quick second click), the popover stays open: that focus-out was the
// closed showing's, and the window manager holds the focus on a window of its own meanwhile.
TEST_P(PopoverOnScreen, OpenedAgainBeforeTheCloseIsReportedItStays) {
    auto active = [&] { return gtk_window_is_active(GTK_WINDOW(windows->popoverWidget())) != 0; };
    windows->showPopover();
    ASSERT_TRUE(pageDrawn());
    ASSERT_TRUE(loop.runUntil(active, 60)) << "the popover never had the focus";
    const unsigned long xid =
        gdk_x11_window_get_xid(gtk_widget_get_window(windows->popoverWidget()));
    int focusOuts = 0;
    const gulong handler = g_signal_connect_swapped(
        windows->popoverWidget(), "focus-out-event",
        G_CALLBACK(+[](int* count) -> gboolean {
            ++*count;
            return FALSE;
        }),
        &focusOuts);

    windows->closePopover();
    gdk_display_flush(gdk_display_get_default());
    // This process handles none of its events meanwhile, so the focus-out waits for it.
    ASSERT_TRUE(screen->waitForFocusToLeave(xid, 60)) << "the focus stayed on the closed popover";
    // The window manager is held until the popover has seen that focus-out.
    if (windowManager)
        windowManager->pause();
    windows->showPopover();
    const bool handled = loop.runUntil([&] { return focusOuts > 0; }, 60);
    if (windowManager)
        windowManager->resume();
    g_signal_handler_disconnect(windows->popoverWidget(), handler);
    ASSERT_TRUE(handled) << "the closing was never reported";

    EXPECT_TRUE(pageDrawn()) << "the popover closed itself";
    EXPECT_TRUE(loop.runUntil(active, 60));
    EXPECT_TRUE(windows->isPopoverShown());
    EXPECT_EQ(hiddenEvents(), 1);
}

// Opened and closed again and again, with pages pushed events between, the popover shows its
// page every time.
TEST_P(PopoverOnScreen, ReopenedManyTimesItDrawsItsPageEveryTime) {
    constexpr int openings = 8;
    for (int i = 0; i < openings; ++i) {
        SCOPED_TRACE("opening " + std::to_string(i + 1));
        windows->showPopover();
        ASSERT_TRUE(pageDrawn()) << "blank";
        bridge->addHistory(HistoryItem{HistoryItem::newID(), Wire::Date(Clock::now()), "Mousepad", "",
                                       "Words number " + std::to_string(i), "", true,
                                       DictationMode::clean});
        windows->closePopover();
        ASSERT_TRUE(popoverGone());
    }
}

// The clipboard does not depend on the window manager.
class PopoverClipboard : public PopoverOnScreen {};

// The history's Copy in the real page puts the item's text on the CLIPBOARD, where another
// X client reads it.
TEST_P(PopoverClipboard, TheHistorysCopyPutsTheTextOnTheClipboard) {
    auto pasteboard = PasteboardX11::create(xserver().display());
    ASSERT_TRUE(pasteboard);
    std::shared_ptr<PasteboardX11> clipboard = std::move(pasteboard).value();
    // The inserter's queue in the application; the owner answers requests there.
    auto serving = std::make_shared<SerialQueue>("clipboard owner");
    std::weak_ptr<SerialQueue> weakServing = serving;
    clipboard->serveOn([weakServing](std::function<void()> job) {
        auto queue = weakServing.lock();
        if (!queue)
            return false;
        queue->async(std::move(job));
        return true;
    });
    bridge->copyText = Bridge::copyTo(
        Bridge::Clipboard{clipboard, std::make_shared<SerialQueue>("clipboard copies")});
    history->append(HistoryItem{"a1", Wire::Date(Clock::now()), "Mousepad", "", "Meeting notes for Tuesday.",
                                "meeting notes for tuesday", true, DictationMode::clean});

    windows->showPopover();
    ASSERT_TRUE(pageDrawn());
    ASSERT_TRUE(loop.runUntil(
        [&] { return run("return String(!!document.querySelector('[data-action=copy]'));") ==
                     "true"; },
        60));
    EXPECT_EQ(run("document.querySelector('[data-action=copy]').click(); return 'ok';"), "ok");

    std::string read;
    loop.runUntil(
        [&] {
            std::string command =
                "DISPLAY=" + xserver().display() + " xclip -o -selection clipboard 2>/dev/null";
            FILE* pipe = popen(command.c_str(), "r");
            if (!pipe)
                return false;
            char buffer[256];
            read.clear();
            while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
                read.append(buffer, n);
            pclose(pipe);
            return read == "Meeting notes for Tuesday.";
        },
        60);
    EXPECT_EQ(read, "Meeting notes for Tuesday.");
    windows->closePopover();
    windows.reset();
    clipboard.reset();
}

// Minimising and stacking need a window manager.
class OnboardingOnScreen : public PopoverOnScreen {};

// Opened again without focus, a minimised onboarding window comes back from the task bar and
// above the window that covered it.
TEST_P(OnboardingOnScreen, OpenedAgainItIsRestoredAndRaisedWithoutFocus) {
    windows->showOnboarding(std::nullopt, true);
    GtkWidget* onboarding = windows->onboardingWidget();
    ASSERT_NE(onboarding, nullptr);
    const auto xid = [&] { return gdk_x11_window_get_xid(gtk_widget_get_window(onboarding)); };
    ASSERT_TRUE(loop.runUntil([&] { return screen->isViewable(xid()); }, 60));

    gtk_window_iconify(GTK_WINDOW(onboarding));
    ASSERT_TRUE(loop.runUntil([&] { return !screen->isViewable(xid()); }, 60))
        << "the window manager did not minimise it";
    windows->showOnboarding(std::nullopt, false);
    EXPECT_TRUE(loop.runUntil([&] { return screen->isViewable(xid()); }, 60))
        << "still minimised";

    const unsigned long cover = screen->focusWindowOfAnotherClient(600, 400);
    ASSERT_TRUE(loop.runUntil([&] { return screen->isAbove(cover, xid()); }, 60));
    windows->showOnboarding(4, false);
    EXPECT_TRUE(loop.runUntil([&] { return screen->isAbove(xid(), cover); }, 60))
        << "not raised above the window in front";
}

INSTANTIATE_TEST_SUITE_P(WindowManager, OnboardingOnScreen, ::testing::Values(true));
INSTANTIATE_TEST_SUITE_P(NoWindowManager, PopoverClipboard, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(WindowManager, PopoverOnScreen, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "openbox" : "none"; });

} // namespace
} // namespace talverin
