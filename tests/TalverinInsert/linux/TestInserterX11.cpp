// labels: x11
// gtest first: Xlib's macros (None ...) would break its headers.
#include <gtest/gtest.h>

#include "TalverinInsert/Inserter.h"

#include "TalverinInsert/linux/KeyPostingXTest.h"
#include "TalverinInsert/linux/PasteboardX11.h"
#include "TextFixture.h"
#include "Xclip.h"
#include "fakes/AccessibilityBackendFake.h"
#include "fakes/SecureInputFake.h"
#include "support/LogLines.h"

namespace talverin {
namespace {

DictationContext editableField() {
    DictationContext c;
    c.appName = "TalverinTextFixture";
    c.bundleID = "TalverinTextFixture";
    c.isEditable = true;
    c.elementToken = ElementToken(
        std::make_shared<AXElementBox>(test::AccessibilityBackendFake::element("entry"), 1,
                                       "AXTextField", Editability::editable, std::nullopt, false));
    return c;
}

// The whole paste on a real X server: the user's clipboard is kept, "hello world" is pasted
// with the layout's keys into the fixture's entry, and the user's clipboard comes back only
// after the entry has read the text (before, the entry would have pasted the user's content).
TEST(InserterX11, PastesIntoTheEntryAndPutsTheClipboardBackAfterwards) {
    const struct {
        const char* name;
        std::string target;
        std::string data;
    } cases[] = {
        {"text", "UTF8_STRING", "user's clipboard"},
        {"image", "image/png", test::imageBytes(600 << 10)},
    };
    ::setenv("NO_AT_BRIDGE", "1", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::PrivateXServer server;
        if (server.display().empty())
            GTEST_SKIP() << "no Xvfb";
        test::RealTimeLoop loop;
        test::LogLines log;
        Display* driver = XOpenDisplay(server.display().c_str());
        ASSERT_TRUE(driver);
        auto owner = test::ownClipboard(server.display(), driver, c.target, c.data);
        test::TextFixture fixture(server.display(), "entry");
        ASSERT_TRUE(fixture.waitFor("ready"));

        auto board = PasteboardX11::create(server.display());
        ASSERT_TRUE(board);
        auto keys = KeyPostingXTest::create(std::make_shared<SyntheticInput>(), server.display());
        ASSERT_TRUE(keys);
        test::AccessibilityBackendFake desk;
        test::SecureInputFake secure;
        {
            Inserter inserter(
                Inserter::Services{desk, **board, **keys, **keys, secure, "org.talverin.test"});
            inserter.probe = [](const DictationContext&) {
                return InsertEnvironment{true, false, FocusVerdict::same, InsertTarget::field};
            };
            inserter.prepare();
            auto outcome = inserter.insert("hello world", editableField());
            ASSERT_TRUE(loop.runUntil([&] { return outcome.isReady(); }, 60));
            EXPECT_EQ(outcome.peek(), InsertOutcome::inserted());
            EXPECT_TRUE(fixture.waitFor("entry: hello world"));
            ASSERT_TRUE(loop.runUntil(
                [&] { return log.contains("Inserter: clipboard restored items=1"); }, 60));
            EXPECT_EQ(test::pasteClipboard(server.display(), c.target), c.data);
            // Nothing else reached the entry: no second paste of the user's content.
            EXPECT_EQ(fixture.lines().back(), "entry: hello world");
        }
        owner.reset();
        XCloseDisplay(driver);
    }
}

} // namespace
} // namespace talverin
