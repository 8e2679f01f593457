// labels: x11 atspi
// links: PkgConfig::ATSPI
// gtest first: Xlib's macros (None ...) would break its headers.
#include <gtest/gtest.h>

#include "TalverinInsert/linux/AccessibleDesktop.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillGeometry.h"
#include "TalverinPill/PillModel.h"
#include "TalverinPill/PillPanel.h"
#include "TalverinPill/PillRects.h"
#include "TalverinPill/PillSnapshot.h"
#include "TalverinPill/linux/PillWindowDriverGtk.h"
#include "support/LinuxTestSupport.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <atspi/atspi.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <spawn.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace talverin {
namespace {

// The screen reader is another process, reading the pill's window over the real AT-SPI bus as
// a screen reader does: a copy of this program started with this variable set to
// "<pid of the pill's process>\n<file to write>\n<what to do>".
constexpr const char* readerVariable = "TALVERIN_PILL_READER";

// What the reader found: one object of the pill's application that is showing.
struct Found {
    std::string role;
    std::string name;
    std::string action; // the default action's name; empty without one
};

test::PrivateXServer* server = nullptr;
test::AccessibleDesktop* desktop = nullptr;

class PillAccessibilityTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::getenv(readerVariable))
            return;
        server = new test::PrivateXServer;
        if (server->display().empty())
            return;
        // The session and its accessibility bus come before the toolkit, which joins that bus
        // as it starts.
        desktop = new test::AccessibleDesktop(server->display());
        if (!desktop->waitForLauncher() || !desktop->enableAccessibility() ||
            !desktop->startRegistry())
            return;
        gtk_init_check(nullptr, nullptr);
        PillSnapshot::prepareFonts();
    }

    void SetUp() override {
        if (std::getenv(readerVariable))
            GTEST_SKIP() << "the reader's own process";
        ASSERT_NE(gdk_display_get_default(), nullptr) << "no X server or accessibility bus";
        auto made = PillWindowDriverGtk::create(model);
        ASSERT_TRUE(made.ok());
        driver = made.value();
        panel = std::make_unique<PillPanel>(
            model, driver, PillLang::en,
            [](std::string_view text, double size, double weight, bool tabular) {
                return PillFonts::width(text, size, weight, tabular);
            });
    }
    void TearDown() override {
        panel.reset();
        driver.reset();
        loop.runFor(0.05);
    }

    // Shows a state and waits until its content is in place and the pill fully up.
    void showAndSettle(const PillState& state) {
        panel->show(state, std::nullopt);
        const double shown = test::monotonicNow();
        ASSERT_TRUE(loop.runUntil(
            [&] {
                return test::monotonicNow() - shown >= 0.7 && panel->face() &&
                       !model->layers().empty() && model->layers().back().kind.asFace() &&
                       model->shape().opacity == 1;
            },
            30));
    }

    // Runs the reader and waits for it, the pill's loop running meanwhile so the toolkit can
    // answer it. `what` is "read" or "press <name>" (the showing push button of that name).
    std::vector<Found> reader(const std::string& what) {
        test::TempDir dir;
        const std::string out = (dir.path() / "reader.txt").string();
        const std::string value = std::to_string(::getpid()) + "\n" + out + "\n" + what;
        ::setenv(readerVariable, value.c_str(), 1);
        const std::string self = "/proc/self/exe";
        const std::string filter = "--gtest_filter=PillScreenReader.Reads";
        char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>(filter.c_str()),
                        nullptr};
        pid_t child = -1;
        const int spawned = ::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, environ);
        ::unsetenv(readerVariable);
        EXPECT_EQ(spawned, 0);
        if (spawned != 0)
            return {};
        int status = 0;
        // Someone else in this process may reap it first (no child is left to wait for).
        const bool ended = loop.runUntil(
            [&] {
                const pid_t done = ::waitpid(child, &status, WNOHANG);
                return done == child || (done < 0 && errno == ECHILD);
            },
            90);
        EXPECT_TRUE(ended) << "the reader hung";
        if (!ended) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        std::vector<Found> found;
        std::ifstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            Found f;
            std::getline(fields, f.role, '\t');
            std::getline(fields, f.name, '\t');
            std::getline(fields, f.action, '\t');
            found.push_back(f);
        }
        return found;
    }

    static bool has(const std::vector<Found>& found, const std::string& role,
                    const std::string& name) {
        return std::any_of(found.begin(), found.end(),
                           [&](const Found& f) { return f.role == role && f.name == name; });
    }

    test::RealTimeLoop loop;
    std::shared_ptr<PillModel> model = std::make_shared<PillModel>();
    std::shared_ptr<PillWindowDriverGtk> driver;
    std::unique_ptr<PillPanel> panel;
};

TEST_F(PillAccessibilityTest, AReaderFindsEachStatesLabel) {
    struct Row {
        PillState state;
        const char* label;
    };
    const Row rows[] = {
        {PillState::listening("send the report", 0.5f), "Listening\u2026"},
        {PillState::polishing(), "Polishing\u2026"},
        {PillState::inserted("Notes"), "Inserted, Ctrl+Z \u2013 undo"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        showAndSettle(row.state);
        ASSERT_FALSE(HasFatalFailure());
        const auto found = reader("read");
        EXPECT_TRUE(has(found, "panel", row.label));
        // Only the hands-free pill has a stop button.
        EXPECT_FALSE(has(found, "push button", "Stop"));
    }
}

TEST_F(PillAccessibilityTest, TheStopButtonsActionEndsAHandsFreeDictation) {
    int stops = 0;
    panel->onStop = [&] {
        ++stops;
        panel->hide();
    };
    showAndSettle(PillState::handsFree(3, "some words"));
    ASSERT_FALSE(HasFatalFailure());
    const auto found = reader("read");
    EXPECT_TRUE(has(found, "panel", "Hands-free, 0:03"));
    ASSERT_TRUE(has(found, "push button", "Stop"));
    EXPECT_EQ(
        std::find_if(found.begin(), found.end(), [](const Found& f) { return f.name == "Stop"; })
            ->action,
        "click");

    reader("press Stop");
    EXPECT_TRUE(loop.runUntil([&] { return stops == 1; }, 30));
    EXPECT_EQ(panel->state().kind(), PillState::Kind::hidden);
}

TEST_F(PillAccessibilityTest, TheMicrophoneButtonsActionStartsAHandsFreeDictation) {
    int clicks = 0;
    panel->onClick = [&] {
        ++clicks;
        panel->show(PillState::handsFree(0, ""), std::nullopt);
    };
    // The idle bar at rest is the button already: a press on it starts dictating.
    panel->setShowsIdleBar(true);
    ASSERT_TRUE(loop.runUntil([&] { return !driver->isAnimating(); }, 30));
    ASSERT_TRUE(has(reader("read"), "push button", "Hands-free dictation"));
    // The resting pill grows its microphone button under the pointer.
    const PillShapeState& shape = model->shape();
    GdkRectangle g{};
    gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &g);
    const X11Rect primary{double(g.x), double(g.y), double(g.width), double(g.height)};
    const X11Rect at = toX11Root(Rect{shape.centre, {0, 0}}, primary);
    Display* x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    XTestFakeMotionEvent(x, -1, int(std::lround(at.x)), int(std::lround(at.y)), 0);
    XFlush(x);
    ASSERT_TRUE(loop.runUntil(
        [&] {
            return panel->isHovering() && !model->layers().empty() &&
                   model->layers().back().kind.asMic() && !driver->isAnimating();
        },
        30));
    const auto found = reader("read");
    ASSERT_TRUE(has(found, "push button", "Hands-free dictation"));

    reader("press Hands-free dictation");
    EXPECT_TRUE(loop.runUntil([&] { return clicks == 1; }, 30));
    EXPECT_EQ(panel->state().kind(), PillState::Kind::handsFree);
}

// The reader: runs only in the process a test above starts.
void walk(AtspiAccessible* node, int depth, const std::string& press, std::ofstream& out) {
    if (!node || depth > 12)
        return;
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    const bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
    if (states)
        g_object_unref(states);
    if (!showing && depth > 1)
        return;
    gchar* role = atspi_accessible_get_role_name(node, nullptr);
    gchar* name = atspi_accessible_get_name(node, nullptr);
    std::string action;
    if (AtspiAction* actions = atspi_accessible_get_action_iface(node)) {
        if (atspi_action_get_n_actions(actions, nullptr) > 0) {
            gchar* first = atspi_action_get_action_name(actions, 0, nullptr);
            action = first ? first : "";
            g_free(first);
            if (!press.empty() && press == (name ? name : ""))
                atspi_action_do_action(actions, 0, nullptr);
        }
        g_object_unref(actions);
    }
    out << (role ? role : "") << '\t' << (name ? name : "") << '\t' << action << '\n';
    g_free(role);
    g_free(name);
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr);
        walk(child, depth + 1, press, out);
        if (child)
            g_object_unref(child);
    }
}

TEST(PillScreenReader, Reads) {
    const char* value = std::getenv(readerVariable);
    if (!value)
        GTEST_SKIP() << "runs only as the reader of PillAccessibilityTest";
    std::istringstream fields(value);
    std::string pid, out, what;
    std::getline(fields, pid);
    std::getline(fields, out);
    std::getline(fields, what);
    const std::string press = what.rfind("press ", 0) == 0 ? what.substr(6) : "";
    ASSERT_EQ(atspi_init(), 0);
    std::ofstream file(out);
    AtspiAccessible* desktopNode = atspi_get_desktop(0);
    // The pill's application registered as its toolkit started, before any state was shown.
    bool seen = false;
    const int count = atspi_accessible_get_child_count(desktopNode, nullptr);
    for (int i = 0; i < count && !seen; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktopNode, i, nullptr);
        if (app && std::to_string(atspi_accessible_get_process_id(app, nullptr)) == pid) {
            seen = true;
            walk(app, 0, press, file);
        }
        if (app)
            g_object_unref(app);
    }
    g_object_unref(desktopNode);
    EXPECT_TRUE(seen) << "the pill's application is not on the bus";
}

} // namespace
} // namespace talverin
