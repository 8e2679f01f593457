#include "TalverinInsert/Inserter.h"

#include "Runtime/VirtualWorld.h"
#include "fakes/AccessibilityBackendFake.h"
#include "fakes/KeyPostingFake.h"
#include "fakes/PasteboardFake.h"
#include "fakes/SecureInputFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace talverin {
namespace {

using test::AccessibilityBackendFake;
using test::PasteboardFake;

const std::string ownID = "org.talverin.app";
const ClipItem userItem = PasteboardFake::item({{"public.utf8-plain-text", "user's clipboard"}});

// "Notes" (pid 42) in front with its element "field" focused; the user's clipboard holds one
// item; the layout's "v" is key 47.
struct Harness {
    Harness() {
        desk.focusApplication(
            {.pid = 42, .localizedName = "Notes", .bundleID = "org.example.Notes"});
        desk.focusElement(42, "field");
        desk.attribute("field", "AXRole", std::string("AXTextArea"));
        board.copy({userItem});
        keys.key = 47;
        board.onWaitedOut = [this](double seconds) { slept += seconds; };
    }

    static DictationContext context(Editability editability, std::string role = "AXTextArea",
                                    bool webEngine = false, std::string element = "field") {
        DictationContext c;
        c.appName = "Notes";
        c.bundleID = "org.example.Notes";
        c.isEditable = editability == Editability::editable;
        c.elementToken = ElementToken(
            std::make_shared<AXElementBox>(AccessibilityBackendFake::element(element), 42, role,
                                           editability, std::nullopt, webEngine));
        return c;
    }
    static DictationContext unread() {
        DictationContext c;
        c.appName = "Notes";
        c.bundleID = "org.example.Notes";
        return c;
    }

    // Runs what is due now and answers the outcome, which must be there.
    InsertOutcome insert(const std::string& text, const DictationContext& c) {
        auto future = inserter->insert(text, c);
        world.runReady();
        EXPECT_TRUE(future.isReady());
        return future.peek().value_or(InsertOutcome::refused(RefuseReason::editFailed));
    }
    void prepare() {
        inserter->prepare();
        world.runReady();
    }
    std::vector<std::string> inserterLines() const { return log.starting("Inserter: "); }

    VirtualWorld world;
    double slept = 0;
    Ticking ticking{[this] { return world.uptime() + slept; }, [this](double s) { slept += s; }};
    AccessibilityBackendFake desk;
    PasteboardFake board;
    test::KeyPostingFake poster;
    test::PasteKeyResolverFake keys;
    test::SecureInputFake secure;
    test::LogLines log;
    std::unique_ptr<Inserter> inserter = std::make_unique<Inserter>(
        Inserter::Services{desk, board, poster, keys, secure, ownID, ticking});
};

class InserterTest : public ::testing::Test, public Harness {};

struct Row {
    const char* name;
    std::function<void(Harness&)> setUp;
    std::string text;
    std::function<DictationContext()> context;
    InsertOutcome outcome;
    std::string line;
    std::vector<std::string> posted;
    // What the clipboard holds right after the insertion: the user's item, or a text of ours.
    std::optional<std::string> clipboardText;
};

void check(const Row& row) {
    SCOPED_TRACE(row.name);
    Harness h;
    if (row.setUp)
        row.setUp(h);
    h.prepare();
    EXPECT_EQ(h.insert(row.text, row.context()), row.outcome);
    EXPECT_EQ(h.inserterLines(), std::vector<std::string>{row.line});
    EXPECT_EQ(h.poster.posted, row.posted);
    ASSERT_EQ(h.board.items.size(), 1u);
    if (row.clipboardText) {
        EXPECT_EQ(h.board.items[0].entries.at(0).data, *row.clipboardText);
    } else {
        EXPECT_EQ(h.board.items[0], userItem);
    }
}

void noFocusReadable(Harness& t) {
    t.desk.nodes["system"].attributes.clear();
}

TEST(Inserter, DecidesInAFixedOrder) {
    using O = InsertOutcome;
    const auto editable = [] { return Harness::context(Editability::editable); };
    const Row rows[] = {
        {"only spaces",
         nullptr,
         "   ",
         editable,
         O::refused(RefuseReason::empty),
         "Inserter: refuse(empty) len=3",
         {},
         std::nullopt},
        {"a password field",
         nullptr,
         "hello",
         [] {
             auto c = Harness::context(Editability::editable, "AXSecureTextField");
             c.isSecure = true;
             return c;
         },
         O::refused(RefuseReason::secureField),
         "Inserter: refuse(secureField) len=5",
         {},
         std::nullopt},
        {"secure input",
         [](Harness& t) { t.secure.on = true; },
         "hello",
         editable,
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=unknown ms=0",
         {},
         "hello"},
        {"untrusted",
         [](Harness& t) { t.desk.trusted = false; },
         "hello",
         editable,
         O::refused(RefuseReason::noAccessibility),
         "Inserter: refuse(noAccessibility) len=5 focus=unknown ms=0",
         {},
         std::nullopt},
        {"focus moved to another application",
         [](Harness& t) {
             t.desk.focusApplication({.pid = 7});
             t.desk.focusElement(7, "elsewhere");
         },
         "hello",
         editable,
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=changed ms=270",
         {},
         "hello"},
        {"not editable",
         nullptr,
         "hello",
         [] { return Harness::context(Editability::notEditable, "AXButton"); },
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=same ms=0",
         {},
         "hello"},
        {"our own window, nothing read",
         [](Harness& t) { t.desk.apps[42].bundleID = ownID; },
         "hello",
         [] {
             auto c = Harness::unread();
             c.bundleID = ownID;
             return c;
         },
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=unknown ms=0",
         {},
         "hello"},
        {"a terminal: typed, on one line",
         nullptr,
         "ls -la\nrm",
         [] { return Harness::context(Editability::notEditable, "AXTerminal"); },
         O::inserted(),
         "Inserter: type len=9 focus=same ms=0",
         {"type ls -la rm"},
         std::nullopt},
        {"a terminal without accessibility, known by its window",
         [](Harness& t) {
             noFocusReadable(t);
             t.desk.apps[42].localizedName = "xterm-wrapper";
             t.desk.apps[42].windowClass = "XTerm";
             t.desk.frontmost = 42;
             t.desk.nodes.erase("app:42");
         },
         "hello",
         [] { return Harness::unread(); },
         O::inserted(),
         "Inserter: type len=5 focus=unknown ms=0",
         {"type hello"},
         std::nullopt},
        {"unknown, no focus readable: keys could reach a password field",
         noFocusReadable,
         "hello",
         [] { return Harness::unread(); },
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=unknown ms=0",
         {},
         "hello"},
        {"the context's read hung after finding the element, the check hangs too",
         [](Harness& t) { t.desk.hangAfterCalls = 0; },
         "hello",
         [] {
             auto c = Harness::context(Editability::unknown, "");
             c.elementToken = ElementToken(std::make_shared<AXElementBox>(
                 AccessibilityBackendFake::element("field"), 42, std::nullopt,
                 Editability::unknown, std::nullopt, false));
             return c;
         },
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=unknown ms=0",
         {},
         "hello"},
        {"a field of unknown kind, now a password field of the same application",
         [](Harness& t) {
             t.desk.focusElement(42, "password");
             t.desk.attribute("password", "AXRole", std::string("AXTextField"));
             t.desk.attribute("password", "AXSubrole", std::string("AXSecureTextField"));
         },
         "hunter2",
         [] { return Harness::context(Editability::unknown, "AXGroup"); },
         O::refused(RefuseReason::secureField),
         "Inserter: refuse(secureField) len=7 focus=same ms=0",
         {},
         std::nullopt},
        {"unknown, a text field in focus",
         nullptr,
         "hello",
         [] { return Harness::unread(); },
         O::inserted(),
         "Inserter: pasteAndKeep len=5 focus=unknown key=47 restore=0.8s ms=0",
         {"paste 47"},
         "hello"},
        {"unknown, a terminal in focus",
         [](Harness& t) { t.desk.attribute("field", "AXRole", std::string("AXTerminal")); },
         "hello",
         [] { return Harness::unread(); },
         O::inserted(),
         "Inserter: type len=5 focus=unknown ms=0",
         {"type hello"},
         std::nullopt},
        {"unknown, a password field in focus",
         [](Harness& t) {
             t.desk.attribute("field", "AXSubrole", std::string("AXSecureTextField"));
         },
         "hunter2",
         [] { return Harness::unread(); },
         O::refused(RefuseReason::secureField),
         "Inserter: refuse(secureField) len=7 focus=unknown ms=0",
         {},
         std::nullopt},
        {"unknown element, same field",
         nullptr,
         "hello",
         [] { return Harness::context(Editability::unknown, "AXGroup"); },
         O::inserted(),
         "Inserter: pasteAndKeep len=5 focus=same key=47 restore=0.8s ms=0",
         {"paste 47"},
         "hello"},
        {"editable",
         nullptr,
         "hello",
         editable,
         O::inserted(),
         "Inserter: paste len=5 focus=same key=47 restore=0.8s ms=0",
         {"paste 47"},
         "hello"},
        {"typed application",
         [](Harness& t) { t.inserter->setTypingBundleIDs({"org.example.Notes"}); },
         "hello",
         editable,
         O::inserted(),
         "Inserter: type len=5 focus=same ms=0",
         {"type hello"},
         std::nullopt},
        {"paste write fails: typed",
         [](Harness& t) { t.board.failWrites = true; },
         "hello",
         editable,
         O::inserted(),
         "Inserter: type len=5 focus=same write=failed ms=0",
         {"type hello"},
         std::nullopt},
        {"copy-only write fails",
         [](Harness& t) { t.board.failWrites = true; },
         "hello",
         [] { return Harness::context(Editability::notEditable, "AXButton"); },
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=same write=failed ms=0",
         {},
         std::nullopt},
        {"paste post fails",
         [](Harness& t) { t.poster.fail = true; },
         "hello",
         editable,
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=same post=failed ms=0",
         {},
         "hello"},
        {"typing post fails",
         [](Harness& t) {
             t.inserter->setTypingBundleIDs({"org.example.Notes"});
             t.poster.fail = true;
         },
         "hello",
         editable,
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=same post=failed ms=0",
         {},
         "hello"},
        {"the target never reads the paste",
         [](Harness& t) { t.board.targetReads = false; },
         "hello",
         editable,
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=same key=47 served=no ms=5000",
         {"paste 47"},
         "hello"},
        {"a clipboard that cannot be held: typed, the clipboard untouched",
         [](Harness& t) { t.board.unansweredReads = 4; },
         "hello",
         editable,
         O::inserted(),
         "Inserter: type len=5 focus=same restore=skip(unanswered) ms=0",
         {"type hello"},
         std::nullopt},
        {"a character without a key: nothing typed",
         [](Harness& t) {
             t.inserter->setTypingBundleIDs({"org.example.Notes"});
             t.poster.noKey = true;
         },
         "hello",
         editable,
         O::copiedOnly(),
         "Inserter: copyOnly len=5 focus=same post=noKey ms=0",
         {},
         "hello"},
        {"concealed clipboard",
         [](Harness& t) {
             t.board.copy({PasteboardFake::item(
                 {{"public.utf8-plain-text", "secret"}, {"org.nspasteboard.ConcealedType", ""}})});
         },
         "hello",
         editable,
         O::inserted(),
         "Inserter: paste len=5 focus=same key=47 restore=skip(concealed) ms=0",
         {"paste 47"},
         "hello"},
    };
    for (const Row& row : rows)
        check(row);
}

TEST_F(InserterTest, TheEarlyRefusalNeverTouchesTheQueue) {
    const std::size_t before = world.pending();
    auto future = inserter->insert(" \n\t", context(Editability::editable));
    EXPECT_TRUE(future.isReady());
    EXPECT_EQ(world.pending(), before);
    EXPECT_EQ(inserterLines(), std::vector<std::string>{"Inserter: refuse(empty) len=3"});
}

TEST_F(InserterTest, AnswersEveryInsertionExactlyOnce) {
    int answers = 0;
    for (int i = 0; i < 3; ++i)
        inserter->insert("hello", context(Editability::editable)).then([&](const InsertOutcome&) {
            ++answers;
        });
    world.runUntilIdle();
    EXPECT_EQ(answers, 3);
    EXPECT_EQ(log.starting("Inserter: paste ").size(), 3u);
}

// The restore comes a little after the target read the text, for an unknown target as well.
TEST(Inserter, TheUsersClipboardComesBackAfterTheRead) {
    for (const auto& [name, context] :
         {std::pair{"a text field", Harness::context(Editability::editable)},
          std::pair{"an unknown target", Harness::unread()}}) {
        SCOPED_TRACE(name);
        Harness h;
        h.prepare();
        const double pasted = h.world.uptime();
        EXPECT_EQ(h.insert("hello", context), InsertOutcome::inserted());
        EXPECT_EQ(h.board.waits, std::vector<double>{Inserter::restoreLimit});
        h.world.runUntil(pasted + Inserter::restoreDelay - 0.01);
        EXPECT_EQ(h.board.items[0].entries[0].data, "hello");
        h.world.runUntil(pasted + Inserter::restoreDelay);
        EXPECT_EQ(h.board.items, std::vector<ClipItem>{userItem});
        EXPECT_EQ(h.log.count("Inserter: clipboard restored items=1"), 1);
    }
}

// Nothing read the paste: the text stays for the user to paste by hand, and the user's own
// clipboard is held until the next dictation puts it back.
TEST_F(InserterTest, ATargetThatNeverReadsLeavesTheTextAndTheNextDictationRestores) {
    prepare();
    board.targetReads = false;
    EXPECT_EQ(insert("hello", context(Editability::editable)), InsertOutcome::copiedOnly());
    world.runUntil(world.uptime() + 60);
    EXPECT_EQ(board.items[0].entries[0].data, "hello");
    board.targetReads = true;
    prepare();
    EXPECT_EQ(insert("again", context(Editability::editable)), InsertOutcome::inserted());
    world.runUntilIdle();
    EXPECT_EQ(board.items, std::vector<ClipItem>{userItem});
}

// What is held of the user's clipboard after a paste that did not happen lives as long as an
// unused snapshot: a later insertion puts it back until then, and not after.
TEST(Inserter, AClipboardHeldAfterAFailedPasteIsDroppedAfterTenMinutes) {
    const struct {
        const char* name;
        std::function<void(Harness&, bool)> fail;
    } cases[] = {
        {"the post fails", [](Harness& h, bool on) { h.poster.fail = on; }},
        {"the target never reads", [](Harness& h, bool on) { h.board.targetReads = !on; }},
        {"the write fails", [](Harness& h, bool on) { h.board.failWrites = on; }},
    };
    for (const auto& c : cases)
        for (const double later : {Inserter::snapshotLifetime - 1, Inserter::snapshotLifetime + 1}) {
            SCOPED_TRACE(std::string(c.name) + " then " + std::to_string(later) + " s");
            Harness h;
            h.prepare();
            c.fail(h, true);
            h.insert("hello", Harness::context(Editability::editable));
            c.fail(h, false);
            h.world.runUntil(h.world.uptime() + later);
            const int reads = h.board.reads;
            h.insert("again", Harness::context(Editability::editable));
            h.world.runUntilIdle();
            // Held: put back after this paste without reading the clipboard again.
            const bool held =
                h.board.reads == reads && h.board.items == std::vector<ClipItem>{userItem};
            EXPECT_EQ(held, later < Inserter::snapshotLifetime);
        }
}

TEST_F(InserterTest, AFailedPasteKeepsTheUsersClipboardForTheNextDictation) {
    prepare();
    poster.fail = true;
    insert("hello", context(Editability::editable));
    world.runUntil(world.uptime() + 10);
    EXPECT_EQ(board.items[0].entries[0].data, "hello"); // no restore took it away
    poster.fail = false;
    prepare();
    insert("again", context(Editability::editable));
    world.runUntilIdle();
    EXPECT_EQ(board.items, std::vector<ClipItem>{userItem});
}

TEST_F(InserterTest, TwoDictationsWithinTheRestoreWindowRestoreTheOriginal) {
    prepare();
    insert("first", context(Editability::editable));
    prepare();
    insert("second", context(Editability::editable));
    world.runUntilIdle();
    EXPECT_EQ(board.items, std::vector<ClipItem>{userItem});
    EXPECT_EQ(log.count("Inserter: clipboard restored items=1"), 1);
}

TEST_F(InserterTest, AnUnusedSnapshotIsDroppedAfterTenMinutesOfItsGeneration) {
    prepare();
    world.runUntil(world.uptime() + 300);
    prepare(); // a newer snapshot: the first drop must leave it alone
    world.runUntil(world.uptime() + 301);
    // The second snapshot is still held: the paste restores without reading again.
    const int reads = board.reads;
    insert("hello", context(Editability::editable));
    EXPECT_EQ(board.reads, reads);
    world.runUntil(world.uptime() + 600);
    prepare();
    world.runUntil(world.uptime() + 600);
    const int readsAfterDrop = board.reads;
    insert("hello", context(Editability::editable));
    EXPECT_GT(board.reads, readsAfterDrop); // dropped: captured afresh
}

TEST_F(InserterTest, ThePasteKeyIsResolvedOnTheInsertersQueue) {
    insert("hello", context(Editability::editable));
    EXPECT_EQ(keys.calls, 1);
    EXPECT_EQ(keys.callsOnMain, 0);
}

TEST_F(InserterTest, FocusOnAnotherElementOfTheSameProcess) {
    desk.focusElement(42, "other");
    desk.attribute("other", "AXRole", std::string("AXTextArea"));
    const struct {
        const char* name;
        DictationContext context;
        FocusVerdict verdict;
    } cases[] = {
        {"web engine, same role", context(Editability::editable, "AXTextArea", true),
         FocusVerdict::same},
        {"web engine, another role", context(Editability::editable, "AXComboBox", true),
         FocusVerdict::changed},
        {"native, same role", context(Editability::editable, "AXTextArea", false),
         FocusVerdict::changed},
        {"editability never known", context(Editability::unknown, "AXGroup", false),
         FocusVerdict::same},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(inserter->verifyFocus(c.context), c.verdict);
    }
}

TEST_F(InserterTest, TheFocusCheckPollsForAQuarterSecondWithFreshReadings) {
    desk.focusElement(42, "other");
    std::vector<double> readings;
    desk.onCall = [&](const std::string& call) {
        if (call.starts_with("copy system AXFocusedApplication"))
            readings.push_back(slept);
    };
    EXPECT_EQ(inserter->verifyFocus(context(Editability::editable)), FocusVerdict::changed);
    ASSERT_EQ(readings.size(), 10u); // at 0, 30, ... 270 ms
    EXPECT_NEAR(readings.back(), 0.27, 1e-9);
    // Focus that comes back within the quarter second counts as the same.
    readings.clear();
    slept = 0;
    desk.onCall = [&](const std::string& call) {
        if (call.starts_with("copy system AXFocusedApplication") && slept > 0.1)
            desk.focusElement(42, "field");
    };
    EXPECT_EQ(inserter->verifyFocus(context(Editability::editable)), FocusVerdict::same);
    // Every reading is its own session: a hang in one costs that reading, and gives unknown.
    desk.onCall = nullptr;
    desk.hangAfterCalls = static_cast<int>(desk.calls.size()) + 1;
    desk.focusElement(42, "other");
    EXPECT_EQ(inserter->verifyFocus(context(Editability::editable)), FocusVerdict::unknown);
}

TEST_F(InserterTest, QuitPutsThePendingRestoreBeforeTheHandOff) {
    const ClipItem copied = PasteboardFake::item({{"public.utf8-plain-text", "copied later"}});
    const struct {
        const char* name;
        std::function<void(Harness&)> beforeQuit;
        // What the clipboard holds when it is handed off, and stays holding.
        std::function<std::string(Harness&)> expected;
    } cases[] = {
        {"the paste is not read yet", [](Harness&) {},
         [](Harness&) { return std::string("user's clipboard"); }},
        {"someone copied after the paste",
         [&](Harness& h) { h.board.copy({copied}); },
         [](Harness&) { return std::string("copied later"); }},
        {"the restore already ran",
         [](Harness& h) { h.world.runUntil(h.world.uptime() + Inserter::restoreDelay); },
         [](Harness&) { return std::string("user's clipboard"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.prepare();
        h.insert("hello", Harness::context(Editability::editable));
        c.beforeQuit(h);
        h.inserter->quit();
        ASSERT_EQ(h.board.handedOff.size(), 1u);
        ASSERT_EQ(h.board.handedOff[0].size(), 1u);
        EXPECT_EQ(h.board.handedOff[0][0].entries.at(0).data, c.expected(h));
        // The restore that was scheduled finds nothing left to do.
        h.world.runUntilIdle();
        EXPECT_EQ(h.board.items.at(0).entries.at(0).data, c.expected(h));
        EXPECT_LE(h.log.count("Inserter: clipboard restored items=1"), 1);
    }
}

TEST_F(InserterTest, QuitHandsOffTextLeftOnTheClipboard) {
    insert("hello", context(Editability::notEditable, "AXButton"));
    inserter->quit();
    ASSERT_EQ(board.handedOff.size(), 1u);
    EXPECT_EQ(board.handedOff[0].at(0).entries.at(0).data, "hello");
    EXPECT_EQ(board.writes.size(), 1u); // nothing was restored over it
}

TEST_F(InserterTest, TheClipboardReachesTheQueueOnlyWhileTheInserterLives) {
    ASSERT_TRUE(board.post);
    bool ran = false;
    EXPECT_TRUE(board.post([&] { ran = true; }));
    EXPECT_FALSE(ran); // never inline: it runs on the queue
    world.runReady();
    EXPECT_TRUE(ran);
    inserter.reset();
    EXPECT_FALSE(board.post([] { ADD_FAILURE() << "ran after the inserter"; }));
    world.runUntilIdle();
}

} // namespace
} // namespace talverin
