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

DictationContext unreadField() {
    DictationContext c;
    c.appName = "TalverinTextFixture";
    c.bundleID = "TalverinTextFixture";
    return c;
}

// The inserter on a private X server with the real clipboard and keys, and a user's clipboard
// owned by another X client (xclip).
class InserterOnX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty())
            GTEST_SKIP() << "no Xvfb";
        ::setenv("NO_AT_BRIDGE", "1", 1);
        driver = XOpenDisplay(server.display().c_str());
        ASSERT_TRUE(driver);
        auto madeBoard = PasteboardX11::create(server.display());
        ASSERT_TRUE(madeBoard);
        board = std::move(madeBoard).value();
        auto madeKeys =
            KeyPostingXTest::create(std::make_shared<SyntheticInput>(), server.display());
        ASSERT_TRUE(madeKeys);
        keys = std::move(madeKeys).value();
        inserter = std::make_unique<Inserter>(
            Inserter::Services{desk, *board, *keys, *keys, secure, "org.talverin.test"});
        inserter->probe = [](const DictationContext&) {
            return InsertEnvironment{true, false, FocusVerdict::same, InsertTarget::field};
        };
    }
    void TearDown() override {
        inserter.reset();
        owner.reset();
        if (driver)
            XCloseDisplay(driver);
    }

    void userCopies(const std::string& target, const std::string& data) {
        owner = test::ownClipboard(server.display(), driver, target, data);
    }
    InsertOutcome dictate(const std::string& text, const DictationContext& context) {
        inserter->prepare();
        auto outcome = inserter->insert(text, context);
        EXPECT_TRUE(loop.runUntil([&] { return outcome.isReady(); }, 60));
        return outcome.peek().value_or(InsertOutcome::refused(RefuseReason::editFailed));
    }
    bool restored() {
        return loop.runUntil([&] { return log.contains("Inserter: clipboard restored items=1"); },
                             60);
    }

    test::PrivateXServer server;
    test::RealTimeLoop loop;
    test::LogLines log;
    Display* driver = nullptr;
    std::unique_ptr<test::Program> owner;
    std::unique_ptr<PasteboardX11> board;
    std::unique_ptr<KeyPostingXTest> keys;
    test::AccessibilityBackendFake desk;
    test::SecureInputFake secure;
    std::unique_ptr<Inserter> inserter;
};

// The whole paste: the user's clipboard is kept, "hello world" is pasted with the layout's
// keys into the fixture's entry, and the user's clipboard comes back only after the entry has
// read the text (before, the entry would have pasted the user's content). A target whose kind
// is unknown gets its clipboard back as well.
TEST_F(InserterOnX11, PastesIntoTheEntryAndPutsTheClipboardBackAfterwards) {
    const struct {
        const char* name;
        std::string target;
        std::string data;
        DictationContext context;
        std::string kind;
    } cases[] = {
        {"text", "UTF8_STRING", "user's clipboard", editableField(), "paste"},
        {"image", "image/png", test::imageBytes(600 << 10), editableField(), "paste"},
        {"unknown target", "UTF8_STRING", "user's clipboard", unreadField(), "pasteAndKeep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        userCopies(c.target, c.data);
        test::TextFixture fixture(server.display(), "entry");
        ASSERT_TRUE(fixture.waitFor("ready"));
        EXPECT_EQ(dictate("hello world", c.context), InsertOutcome::inserted());
        EXPECT_TRUE(fixture.waitFor("entry: hello world"));
        EXPECT_EQ(log.starting("Inserter: " + c.kind + " len=11 focus=same key=").size(), 1u);
        ASSERT_TRUE(restored());
        EXPECT_EQ(test::pasteClipboard(server.display(), c.target), c.data);
        // Nothing else reached the entry: no second paste of the user's content.
        EXPECT_EQ(fixture.lines().back(), "entry: hello world");
    }
}

// A clipboard too large to hold is never touched: the text is typed instead.
TEST_F(InserterOnX11, AClipboardTooLargeToHoldIsLeftAloneAndTheTextTyped) {
    const std::string image = test::imageBytes(70 << 20);
    userCopies("image/png", image);
    test::TextFixture fixture(server.display(), "entry");
    ASSERT_TRUE(fixture.waitFor("ready"));
    EXPECT_EQ(dictate("hello world", editableField()), InsertOutcome::inserted());
    EXPECT_TRUE(fixture.waitFor("entry: hello world"));
    EXPECT_EQ(log.starting("Inserter: type len=11 focus=same restore=skip(tooLarge) ").size(),
              1u);
    EXPECT_TRUE(test::pasteClipboard(server.display(), "image/png") == image);
}

// A window that takes no paste reads nothing: the answer is "copied", the text stays on the
// clipboard to be pasted by hand, and the user's clipboard comes back after the next paste.
TEST_F(InserterOnX11, APasteNobodyReadsIsCopiedAndTheClipboardComesBackLater) {
    userCopies("UTF8_STRING", "user's clipboard");
    const Window deaf = XCreateSimpleWindow(driver, DefaultRootWindow(driver), 0, 0, 100, 100, 0,
                                            0, 0);
    XMapWindow(driver, deaf);
    XSync(driver, False);
    XSetInputFocus(driver, deaf, RevertToPointerRoot, CurrentTime);
    XSync(driver, False);
    EXPECT_EQ(dictate("hello world", editableField()), InsertOutcome::copiedOnly());
    const auto lines = log.starting("Inserter: copyOnly len=11 focus=same key=");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" served=no "), std::string::npos) << lines[0];
    EXPECT_EQ(test::pasteClipboard(server.display(), "UTF8_STRING"), "hello world");

    test::TextFixture fixture(server.display(), "entry");
    ASSERT_TRUE(fixture.waitFor("ready"));
    EXPECT_EQ(dictate("again", editableField()), InsertOutcome::inserted());
    EXPECT_TRUE(fixture.waitFor("entry: again"));
    ASSERT_TRUE(restored());
    EXPECT_EQ(test::pasteClipboard(server.display(), "UTF8_STRING"), "user's clipboard");
}

} // namespace
} // namespace talverin
