// labels: x11
#include "TalverinInsert/linux/FrontWindowX11.h"

#include "TalverinInsert/AppIdentity.h"
#include "TalverinInsert/linux/AppCluesProc.h"
#include "TextFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <X11/Xlib.h>

namespace talverin {
namespace {

// There is no window manager on the test's own X server: the window in front is the one that
// holds the input focus, which the fixture takes itself.
TEST(FrontWindowX11, TheFocusedWindowNamesItsProcessAndClass) {
    test::PrivateXServer server;
    if (server.display().empty())
        GTEST_SKIP() << "no Xvfb";
    ::setenv("NO_AT_BRIDGE", "1", 1);
    Display* display = XOpenDisplay(server.display().c_str());
    ASSERT_TRUE(display);
    EXPECT_FALSE(FrontWindowX11::read(display));

    test::TextFixture fixture(server.display(), "entry");
    ASSERT_TRUE(fixture.waitFor("ready"));
    const auto front = FrontWindowX11::read(display);
    ASSERT_TRUE(front);
    EXPECT_EQ(front->pid, fixture.pid());
    EXPECT_EQ(front->instanceName, "TalverinTextFixture");
    EXPECT_EQ(front->className, "TalverinTextFixture");
    const auto clues = AppCluesProc::read(fixture.pid(), front);
    EXPECT_EQ(clues.className, "TalverinTextFixture");
    // A program the table does not know has no identifier.
    EXPECT_EQ(AppIdentity::identify(clues), std::nullopt);
    XCloseDisplay(display);
}

} // namespace
} // namespace talverin
