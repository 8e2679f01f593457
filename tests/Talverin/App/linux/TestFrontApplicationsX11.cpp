// labels: x11
#include "Talverin/App/linux/FrontApplicationsX11.h"

#include "support/LinuxTestSupport.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace talverin {
namespace {

// The test's own connection plays the window manager: it names the active window on the root
// and hears the requests to activate one.
struct FrontApplicationsX11Test : ::testing::Test {
    void SetUp() override {
        if (server.display().empty())
            GTEST_SKIP() << "no Xvfb";
        wm = XOpenDisplay(server.display().c_str());
        ASSERT_TRUE(wm);
        root = DefaultRootWindow(wm);
        XSelectInput(wm, root, SubstructureRedirectMask | SubstructureNotifyMask);
        XSync(wm, False);
        front = FrontApplicationsX11::open(server.display().c_str());
        ASSERT_TRUE(front);
    }
    void TearDown() override {
        front.reset();
        if (wm)
            XCloseDisplay(wm);
    }
    Window windowOf(long pid) {
        const Window w = XCreateSimpleWindow(wm, root, 0, 0, 10, 10, 0, 0, 0);
        XChangeProperty(wm, w, XInternAtom(wm, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
        XSync(wm, False);
        return w;
    }
    void setActive(Window w) {
        XChangeProperty(wm, root, XInternAtom(wm, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
                        PropModeReplace, reinterpret_cast<unsigned char*>(&w), 1);
        XSync(wm, False);
    }
    // The next client message the window manager receives; none within a generous bound.
    std::optional<XClientMessageEvent> nextClientMessage() {
        pollfd readable{ConnectionNumber(wm), POLLIN, 0};
        for (;;) {
            while (XPending(wm) > 0) {
                XEvent event;
                XNextEvent(wm, &event);
                if (event.type == ClientMessage)
                    return event.xclient;
            }
            if (::poll(&readable, 1, 60'000) <= 0)
                return std::nullopt;
        }
    }

    test::PrivateXServer server;
    Display* wm = nullptr;
    Window root = 0;
    std::unique_ptr<FrontApplicationsX11> front;
};

TEST_F(FrontApplicationsX11Test, TheActiveWindowNamesTheApplicationAndAnActivationAsksForIt) {
    EXPECT_FALSE(front->frontmost());
    const Window editor = windowOf(4242);
    setActive(editor);
    const auto app = front->frontmost();
    ASSERT_TRUE(app);
    EXPECT_EQ(*app, (RunningApp{editor, 4242}));

    front->activate(*app);
    const auto message = nextClientMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->window, editor);
    EXPECT_EQ(message->message_type, XInternAtom(wm, "_NET_ACTIVE_WINDOW", False));
}

TEST_F(FrontApplicationsX11Test, OnlyAnEndedProcessHasTerminated) {
    EXPECT_FALSE(front->hasTerminated({1, static_cast<std::int32_t>(::getpid())}));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_TRUE(front->hasTerminated({1, static_cast<std::int32_t>(child)}));
}

} // namespace
} // namespace talverin
