// labels: x11
// gtest first: Xlib's macros (None ...) would break its headers.
#include <gtest/gtest.h>

#include "TalverinInsert/linux/PasteboardX11.h"

#include "Runtime/ThreadQueues.h"
#include "TalverinInsert/ClipboardKeeper.h"
#include "TalverinInsert/Inserter.h"
#include "TalverinInsert/linux/KeyPostingXTest.h"
#include "TextFixture.h"
#include "Xclip.h"
#include "fakes/AccessibilityBackendFake.h"
#include "fakes/SecureInputFake.h"
#include "support/LogLines.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace talverin {
namespace {

// Each test on its own X server: its clipboard is nobody else's.
class PasteboardX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty())
            GTEST_SKIP() << "no Xvfb";
        auto made = PasteboardX11::create(server.display());
        ASSERT_TRUE(made) << made.message();
        board = std::move(made).value();
        board->serveOn([this](std::function<void()> job) {
            queue.async(std::move(job));
            return true;
        });
        driver = XOpenDisplay(server.display().c_str());
        ASSERT_TRUE(driver);
        clipboard = XInternAtom(driver, "CLIPBOARD", False);
    }
    void TearDown() override {
        owners.clear();
        if (driver)
            XCloseDisplay(driver);
    }

    // Everything the clipboard does runs on its queue, as on the inserter's.
    template <typename F> auto onQueue(F&& f) {
        using T = std::invoke_result_t<F>;
        std::optional<T> out;
        queue.sync([&] { out.emplace(f()); });
        return std::move(*out);
    }

    test::Program& own(const std::string& target, const std::string& data) {
        owners.push_back(test::ownClipboard(server.display(), driver, target, data));
        return *owners.back();
    }
    std::string paste(const std::string& target) {
        return test::pasteClipboard(server.display(), target);
    }
    std::vector<std::string> offeredTargets() {
        std::vector<std::string> lines;
        std::string all = paste("TARGETS");
        for (std::size_t at = 0; at < all.size();) {
            const auto end = all.find('\n', at);
            lines.push_back(all.substr(at, end - at));
            at = end == std::string::npos ? all.size() : end + 1;
        }
        return lines;
    }
    static bool has(const std::vector<std::string>& list, const std::string& item) {
        return std::find(list.begin(), list.end(), item) != list.end();
    }

    test::PrivateXServer server;
    // Outlives the clipboard, whose watcher posts to it until the clipboard is gone.
    ThreadSerialQueue queue{"test.clipboard"};
    std::unique_ptr<PasteboardX11> board;
    std::vector<std::unique_ptr<test::Program>> owners;
    Display* driver = nullptr;
    Atom clipboard = None;
};

// What another application copied is read whole and put back as it was, text or image; the
// image is larger than one request in both directions, so it travels in pieces (INCR) when we
// read it and when we serve it again.
TEST_F(PasteboardX11Test, ASnapshotIsRestoredAsItWas) {
    const struct {
        const char* name;
        std::string target;
        std::string data;
    } cases[] = {
        {"text", "UTF8_STRING", "user's clipboard \u00e9\u20ac"},
        {"image", "image/png", test::imageBytes(3 << 20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        own(c.target, c.data);
        ClipboardKeeper keeper(*board, "org.talverin.test");
        onQueue([&] { return keeper.prepare(); });
        const auto ticket = onQueue([&] { return keeper.writeForPaste("dictated"); });
        ASSERT_TRUE(ticket);
        ASSERT_TRUE(ticket->restores);
        EXPECT_EQ(paste("UTF8_STRING"), "dictated");
        onQueue([&] {
            keeper.restore(ticket->changeCount);
            return 0;
        });
        EXPECT_EQ(paste(c.target), c.data);
        EXPECT_TRUE(onQueue([&] { return board->owns(); }));
    }
}

// The paste text carries the marker types and the password manager's hint, so clipboard
// managers leave it out of their history; STRING only when the text fits Latin-1.
TEST_F(PasteboardX11Test, ThePasteTextIsOfferedWithItsMarkers) {
    const struct {
        const char* name;
        std::string text;
        bool string;
    } cases[] = {
        {"Latin-1", "caf\u00e9", true},
        {"beyond Latin-1", "\u20ac \u0436", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(onQueue(
            [&] { return board->write({ClipItem::text(c.text, true, "org.talverin.test")}).ok(); }));
        const auto targets = offeredTargets();
        for (const char* expected :
             {"TARGETS", "TIMESTAMP", "MULTIPLE", "UTF8_STRING", "text/plain;charset=utf-8",
              "org.nspasteboard.TransientType", "org.nspasteboard.ConcealedType",
              "org.nspasteboard.AutoGeneratedType", "org.nspasteboard.source",
              PasteboardX11::passwordHint})
            EXPECT_TRUE(has(targets, expected)) << expected;
        EXPECT_EQ(has(targets, "STRING"), c.string);
        EXPECT_EQ(paste("UTF8_STRING"), c.text);
        EXPECT_EQ(paste("text/plain;charset=utf-8"), c.text);
        EXPECT_EQ(paste(PasteboardX11::passwordHint), "secret");
        EXPECT_EQ(paste("org.nspasteboard.source"), "org.talverin.test");
        if (c.string)
            EXPECT_EQ(paste("STRING"), "caf\xe9");
    }
}

// Every change of owner counts, ours too, and is seen by the very next read.
TEST_F(PasteboardX11Test, TheChangeCountFollowsEveryOwner) {
    const auto start = onQueue([&] { return board->changeCount(); });
    own("UTF8_STRING", "one");
    const double deadline = test::monotonicNow() + 30;
    std::int64_t seen = start;
    while (seen == start && test::monotonicNow() < deadline)
        seen = onQueue([&] { return board->changeCount(); });
    EXPECT_GT(seen, start);
    ASSERT_TRUE(onQueue([&] { return board->write({ClipItem::text("ours", false, "t")}).ok(); }));
    const auto afterOurs = onQueue([&] { return board->changeCount(); });
    EXPECT_GT(afterOurs, seen);
    EXPECT_EQ(onQueue([&] { return board->changeCount(); }), afterOurs);
}

// A snapshot that cannot be had is a skip, never an empty snapshot that a restore would write
// over the user's clipboard.
TEST_F(PasteboardX11Test, WhatCannotBeReadIsSkipped) {
    const struct {
        const char* name;
        std::string target;
        std::string data;
        bool stopOwner;
        std::int64_t maxBytes;
        ClipboardKeeper::Skip skip;
    } cases[] = {
        {"a password manager's secret", PasteboardX11::passwordHint, "secret", false,
         ClipboardKeeper::defaultMaxBytes, ClipboardKeeper::Skip::concealed},
        {"more than the cap", "image/png", test::imageBytes(3 << 20), false, 1 << 20,
         ClipboardKeeper::Skip::tooLarge},
        {"an owner that never answers", "UTF8_STRING", "stuck", true,
         ClipboardKeeper::defaultMaxBytes, ClipboardKeeper::Skip::unanswered},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Program& owner = own(c.target, c.data);
        if (c.stopOwner)
            ::kill(owner.pid(), SIGSTOP);
        ClipboardKeeper keeper(*board, "org.talverin.test", c.maxBytes);
        const double started = test::monotonicNow();
        onQueue([&] { return keeper.prepare(); });
        // Bounded: two attempts of at most the read bound each, with room for a loaded machine.
        EXPECT_LT(test::monotonicNow() - started, 2 * PasteboardX11::readBound + 20);
        ASSERT_TRUE(keeper.prepared());
        EXPECT_EQ(keeper.prepared()->result, ClipboardKeeper::Capture(c.skip));
        if (c.stopOwner)
            ::kill(owner.pid(), SIGCONT);
    }
}

TEST_F(PasteboardX11Test, AnUnansweredReadIsNoEmptyClipboard) {
    test::Program& owner = own("UTF8_STRING", "stuck");
    ::kill(owner.pid(), SIGSTOP);
    const auto types = onQueue([&] { return board->itemTypes(); });
    ASSERT_FALSE(types.ok());
    EXPECT_EQ(types.error(), PasteboardError::unanswered);
    const auto read = onQueue([&] { return board->readItems(1 << 20); });
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error(), PasteboardError::unanswered);
    ::kill(owner.pid(), SIGCONT);
}

// "Served" is the focused application's read of the text, not another client's (a clipboard
// manager copying what we offer), and a replaced content is never reported.
TEST_F(PasteboardX11Test, ServedIsTheFocusedApplicationsRead) {
    ::setenv("NO_AT_BRIDGE", "1", 1);
    test::TextFixture fixture(server.display(), "entry");
    ASSERT_TRUE(fixture.waitFor("ready"));
    auto poster = KeyPostingXTest::create(std::make_shared<SyntheticInput>(), server.display());
    ASSERT_TRUE(poster);
    const auto [first, second] = onQueue([&] {
        board->write({ClipItem::text("first", true, "t")});
        const std::int64_t replaced = board->changeCount();
        board->write({ClipItem::text("hello world", true, "t")});
        return std::pair{replaced, board->changeCount()};
    });
    // Another client's read (xclip, not focused) is answered but is no paste.
    EXPECT_EQ(paste("UTF8_STRING"), "hello world");
    EXPECT_FALSE(onQueue([&] { return board->waitServed(second, 0.2); }));
    ASSERT_TRUE(onQueue([&] { return (*poster)->postPaste((*poster)->pasteKey()); }));
    EXPECT_TRUE(onQueue([&] { return board->waitServed(second, 60); }));
    EXPECT_TRUE(fixture.waitFor("entry: hello world"));
    // A replaced content is never served, and nobody waits for it.
    EXPECT_FALSE(onQueue([&] { return board->waitServed(first, 60); }));
}

// At quit our clipboard goes to a clipboard manager, which copies every target and takes the
// clipboard over; without one nothing is handed off.
TEST_F(PasteboardX11Test, QuitHandsTheClipboardToAManager) {
    EXPECT_FALSE(onQueue([&] { return board->handOff(); }));
    ASSERT_TRUE(onQueue([&] { return board->write({ClipItem::text("kept", false, "t")}).ok(); }));
    EXPECT_FALSE(onQueue([&] { return board->handOff(); })); // no manager runs
    // The manager: its own connection owns CLIPBOARD_MANAGER and, asked to save, copies the
    // clipboard with a second reader of ours and owns it from then on.
    ThreadSerialQueue managerQueue("test.manager");
    auto made = PasteboardX11::create(server.display());
    ASSERT_TRUE(made);
    auto managerBoard = std::move(made).value();
    managerBoard->serveOn([&](std::function<void()> job) {
        managerQueue.async(std::move(job));
        return true;
    });
    Display* manager = XOpenDisplay(server.display().c_str());
    ASSERT_TRUE(manager);
    const Window window =
        XCreateSimpleWindow(manager, DefaultRootWindow(manager), 0, 0, 1, 1, 0, 0, 0);
    const Atom managerAtom = XInternAtom(manager, "CLIPBOARD_MANAGER", False);
    const Atom saveTargets = XInternAtom(manager, "SAVE_TARGETS", False);
    XSetSelectionOwner(manager, managerAtom, window, CurrentTime);
    XSync(manager, False);
    std::atomic<bool> saved{false};
    std::thread managerThread([&] {
        const double deadline = test::monotonicNow() + 60;
        while (test::monotonicNow() < deadline) {
            if (XPending(manager) == 0) {
                pollfd readable{ConnectionNumber(manager), POLLIN, 0};
                ::poll(&readable, 1, 100);
                continue;
            }
            XEvent event;
            XNextEvent(manager, &event);
            if (event.type != SelectionRequest || event.xselectionrequest.target != saveTargets)
                continue;
            const auto request = event.xselectionrequest;
            std::optional<std::vector<ClipItem>> items;
            managerQueue.sync([&] {
                auto read = managerBoard->readItems(1 << 20);
                if (read.ok()) {
                    managerBoard->write(*read);
                    items = *read;
                }
            });
            XSelectionEvent reply{};
            reply.type = SelectionNotify;
            reply.requestor = request.requestor;
            reply.selection = request.selection;
            reply.target = request.target;
            reply.property = items ? request.property : None;
            reply.time = request.time;
            XSendEvent(manager, request.requestor, False, NoEventMask,
                       reinterpret_cast<XEvent*>(&reply));
            XFlush(manager);
            saved = items.has_value();
            return;
        }
    });
    EXPECT_TRUE(onQueue([&] { return board->handOff(); }));
    managerThread.join();
    EXPECT_TRUE(saved);
    EXPECT_FALSE(onQueue([&] { return board->owns(); }));
    // The manager holds the text after we are gone.
    queue.sync([] {});
    board.reset();
    EXPECT_EQ(paste("UTF8_STRING"), "kept");
    managerQueue.sync([] {});
    managerBoard.reset();
    XCloseDisplay(manager);
}

// Requests that name no data of their own: the owner's time, and several targets at once
// (MULTIPLE), where a target we do not offer is marked refused and the others are answered.
TEST_F(PasteboardX11Test, TimestampAndMultipleAreAnswered) {
    ASSERT_TRUE(onQueue([&] { return board->write({ClipItem::text("both", false, "t")}).ok(); }));
    const Window window =
        XCreateSimpleWindow(driver, DefaultRootWindow(driver), 0, 0, 1, 1, 0, 0, 0);
    const auto atom = [&](const char* name) { return XInternAtom(driver, name, False); };
    // Asks for `target` into `property` and answers the property named in the reply.
    const auto convert = [&](Atom target, Atom property) -> Atom {
        XConvertSelection(driver, clipboard, target, property, window, CurrentTime);
        XFlush(driver);
        const double deadline = test::monotonicNow() + 30;
        while (test::monotonicNow() < deadline) {
            XEvent event;
            if (XCheckTypedWindowEvent(driver, window, SelectionNotify, &event))
                return event.xselection.property;
            pollfd readable{ConnectionNumber(driver), POLLIN, 0};
            ::poll(&readable, 1, 100);
        }
        return None;
    };
    const auto read = [&](Atom property, Atom& type) {
        int format = 0;
        unsigned long n = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        std::vector<long> values;
        std::string bytes;
        XGetWindowProperty(driver, window, property, 0, 1 << 16, False, AnyPropertyType, &type,
                           &format, &n, &after, &data);
        if (data) {
            if (format == 32)
                values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + n);
            else
                bytes.assign(reinterpret_cast<char*>(data), n);
            XFree(data);
        }
        return std::make_pair(values, bytes);
    };

    const Atom stampProperty = atom("STAMP");
    ASSERT_EQ(convert(atom("TIMESTAMP"), stampProperty), stampProperty);
    Atom type = None;
    const auto stamp = read(stampProperty, type).first;
    EXPECT_EQ(type, XA_INTEGER);
    ASSERT_EQ(stamp.size(), 1u);
    EXPECT_NE(stamp[0], 0);

    const Atom pairsProperty = atom("PAIRS");
    const Atom first = atom("FIRST");
    const Atom second = atom("SECOND");
    const long pairs[] = {static_cast<long>(atom("UTF8_STRING")), static_cast<long>(first),
                          static_cast<long>(atom("image/png")), static_cast<long>(second)};
    XChangeProperty(driver, window, pairsProperty, atom("ATOM_PAIR"), 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(pairs), 4);
    ASSERT_EQ(convert(atom("MULTIPLE"), pairsProperty), pairsProperty);
    const auto answered = read(pairsProperty, type).first;
    ASSERT_EQ(answered.size(), 4u);
    EXPECT_EQ(answered[1], static_cast<long>(first));
    EXPECT_EQ(answered[3], static_cast<long>(None));
    EXPECT_EQ(read(first, type).second, "both");
    EXPECT_EQ(type, atom("UTF8_STRING"));

    // A list that is no list of atom pairs is refused, not read past its end.
    const Atom malformed = atom("MALFORMED");
    XChangeProperty(driver, window, malformed, atom("ATOM_PAIR"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_EQ(convert(atom("MULTIPLE"), malformed), static_cast<Atom>(None));
    EXPECT_EQ(paste("UTF8_STRING"), "both"); // still answering
}

} // namespace
} // namespace talverin
