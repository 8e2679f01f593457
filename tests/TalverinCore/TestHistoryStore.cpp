// labels: tsan
#include "TalverinCore/HistoryStore.h"

#include "Runtime/EventLoop.h"
#include "Runtime/ThreadQueues.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinCore/CoreLog.h"
#include "Runtime/PrivateFile.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin {
namespace {

using test::LogLines;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::permissions;
using test::readFile;
using test::writeFile;

// 2026-03-05T14:07:09.000Z, and instants counted from it in seconds.
Wire::Date at(double seconds) {
    return Wire::Date::fromMillisecondsSince1970(1772719629000 +
                                                 static_cast<std::int64_t>(seconds * 1000));
}

HistoryItem makeItem(std::string id, Wire::Date date, std::string clean = "some words",
                     std::string appName = "Notes", std::string raw = "raw words") {
    return HistoryItem{
        std::move(id),  date, std::move(appName),  "org.example.notes", std::move(clean),
        std::move(raw), true, DictationMode::clean};
}

std::vector<std::string> idsOf(const std::vector<HistoryItem>& items) {
    std::vector<std::string> ids;
    for (const auto& item : items)
        ids.push_back(item.id);
    return ids;
}

std::string fileWith(const std::vector<HistoryItem>& items) {
    return *HistoryStore::encodeFile(items);
}

std::vector<std::string> temporaryFilesBeside(const fs::path& file) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(file.parent_path(), error))
        if (entry.path().filename().string().starts_with(file.filename().string() + ".tmp."))
            names.push_back(entry.path().string());
    return names;
}

class HistoryStoreTest : public testing::Test {
protected:
    test::TempDir temp;
    VirtualWorld world;
    LogLines log;
    const fs::path url = HistoryStore::defaultURL();

    void SetUp() override { fs::create_directories(url.parent_path()); }
};

TEST_F(HistoryStoreTest, TheDefaultFileLivesInTheDataFolder) {
    EXPECT_EQ(HistoryStore::defaultURL(), temp.dataHome() / "Talverin" / "history.json");
}

TEST_F(HistoryStoreTest, NoFileIsAnEmptyHistoryWithoutALogLine) {
    fs::remove(url.parent_path());
    HistoryStore store(url);
    EXPECT_TRUE(store.items().empty());
    EXPECT_EQ(log.take(), std::vector<std::string>{});
    EXPECT_EQ(store.url(), url);
}

TEST_F(HistoryStoreTest, LoadingSortsStablyAndKeepsThe500Newest) {
    // 600 items in a shuffled order, with runs of equal dates.
    std::vector<HistoryItem> items;
    for (int i = 0; i < 600; ++i)
        items.push_back(makeItem("i" + std::to_string(i), at(i / 3)));
    std::shuffle(items.begin(), items.end(), std::mt19937(7));
    writeFile(url, fileWith(items));

    HistoryStore store(url);
    ASSERT_EQ(store.items().size(), 500u);
    // Newest first; within a date, the order of the file.
    std::vector<HistoryItem> expected = items;
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& a, const auto& b) { return a.date > b.date; });
    expected.resize(500);
    EXPECT_EQ(idsOf(store.items()), idsOf(expected));
    EXPECT_EQ(store.items().back().date, at(33)) << "the 100 oldest are gone";
    EXPECT_EQ(log.take(), std::vector<std::string>{});
}

TEST_F(HistoryStoreTest, ElementsThatDoNotReadAreDroppedAndCounted) {
    const std::string first = *Wire::encoder().encode(makeItem("a", at(2)));
    const std::string second = *Wire::encoder().encode(makeItem("b", at(1)));
    writeFile(url, R"({"version":7,"items":[)" + first + R"(,{"id":"broken"},)" + second +
                       R"(,{"id":"c","date":null},42],"extra":true})");
    HistoryStore store(url);
    EXPECT_EQ(idsOf(store.items()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(log.take(), std::vector<std::string>{"History: dropped 3 unreadable items"});
}

// The damaged copies beside the history file, by name.
std::vector<std::string> asideCopiesBeside(const fs::path& file) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
        if (entry.path().filename().string().starts_with("history.corrupt"))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// 2026-06-10 23:28:05 UTC, as the set-aside names spell it.
const WallTime asideTime(std::chrono::seconds(1'781'134'085));
const std::string asideStamp = "20260610T232805Z";

// Damaged files one after another within the same second, the first meeting a copy that an
// earlier run set aside then and the name an older build used: every copy survives, each under
// a name of its own, and each save after a set-aside starts a fresh file.
TEST_F(HistoryStoreTest, EveryFileThatDoesNotDecodeIsSetAsideAndNoneReplacesAnother) {
    world.setWallClock(asideTime);
    const fs::path earlier = url.parent_path() / ("history.corrupt-" + asideStamp + ".json");
    const fs::path olderBuild = url.parent_path() / "history.corrupt.json";
    writeFile(earlier, "an earlier corrupt file");
    writeFile(olderBuild, "left by an older build");
    const std::string item = *Wire::encoder().encode(makeItem("a", at(0)));
    const std::string files[] = {
        "",
        "not json",
        "[]",
        R"({"items":[)" + item + "]}",                   // no version
        R"({"items":[)" + item + R"(],"version":null})", // a null version
        R"({"items":[)" + item + R"(],"version":1.5})",  // not a whole number
        R"({"items":[)" + item + R"(],"version":"1"})",  // a text
        R"({"items":{},"version":1})",                   // items not an array
        R"({"version":1})",                              // no items
        R"({"items":[)" + item + R"(],"version":1)",     // cut short
        std::string(600, '[') + std::string(600, ']'),   // too deep to read
    };
    int number = 2;
    for (const std::string& bytes : files) {
        SCOPED_TRACE(bytes.substr(0, 80));
        const fs::path aside = url.parent_path() / ("history.corrupt-" + asideStamp + "-" +
                                                    std::to_string(number++) + ".json");
        writeFile(url, bytes);
        {
            HistoryStore store(url);
            EXPECT_TRUE(store.items().empty());
            EXPECT_EQ(log.take(), std::vector<std::string>{"History: the file did not decode (" +
                                                           std::to_string(bytes.size()) +
                                                           " bytes): set aside, starting empty"});
            EXPECT_FALSE(fs::exists(url));
            EXPECT_EQ(readFile(aside), bytes);

            store.append(makeItem("new", at(5)));
            store.flush();
        }
        auto saved = HistoryStore::decodeFile(readFile(url));
        ASSERT_TRUE(saved.ok());
        EXPECT_EQ(idsOf(saved->items), std::vector<std::string>{"new"});
        EXPECT_EQ(readFile(aside), bytes) << "the save leaves the set-aside file alone";
    }
    EXPECT_EQ(asideCopiesBeside(url).size(), std::size(files) + 2);
    EXPECT_EQ(readFile(earlier), "an earlier corrupt file");
    EXPECT_EQ(readFile(olderBuild), "left by an older build");

    // A later second gets a name of its own, without a number.
    world.setWallClock(asideTime + std::chrono::seconds(1));
    writeFile(url, "not json either");
    HistoryStore store(url);
    EXPECT_EQ(readFile(url.parent_path() / "history.corrupt-20260610T232806Z.json"),
              "not json either");
}

TEST_F(HistoryStoreTest, AFileThatDoesNotDecodeAndCannotBeSetAsideIsKeptAndNothingIsSaved) {
    // Every name the copy could take in this second is taken, so the damaged file stays where
    // it is: the only copy of the history.
    world.setWallClock(asideTime);
    writeFile(url.parent_path() / ("history.corrupt-" + asideStamp + ".json"), "taken");
    for (int n = 2; n <= 1000; ++n)
        writeFile(url.parent_path() /
                      ("history.corrupt-" + asideStamp + "-" + std::to_string(n) + ".json"),
                  "taken");
    const auto copiesBefore = asideCopiesBeside(url);
    const std::string bytes = R"({"items":[{"id":"precious"}])";
    writeFile(url, bytes);
    {
        HistoryStore store(url);
        EXPECT_TRUE(store.items().empty());
        EXPECT_EQ(log.take(),
                  std::vector<std::string>{"History: the file did not decode (" +
                                           std::to_string(bytes.size()) +
                                           " bytes) and could not be set aside: kept as it is, "
                                           "nothing is saved this run"});
        store.append(makeItem("a", at(0)));
        store.clear();
        store.flush();
        EXPECT_EQ(log.take(), std::vector<std::string>{
                                  "History: not saved (the file could not be read at launch)"});
    }
    EXPECT_EQ(readFile(url), bytes);
    EXPECT_EQ(asideCopiesBeside(url), copiesBefore);
    EXPECT_EQ(readFile(url.parent_path() / ("history.corrupt-" + asideStamp + "-1000.json")),
              "taken");
}

// The file exists but cannot be read: it must survive the run untouched.
void expectKeptAndNeverSaved(HistoryStore& store, LogLines& log, const std::string& reason) {
    EXPECT_TRUE(store.items().empty());
    EXPECT_EQ(log.take(),
              std::vector<std::string>{"History: could not read history.json (" + reason +
                                       "): kept as it is, nothing is saved this run"});
    store.append(makeItem("a", at(0)));
    store.append(makeItem("b", at(1)));
    EXPECT_TRUE(store.deleteItem("a"));
    store.clear();
    store.flush();
    EXPECT_EQ(log.take(),
              std::vector<std::string>{"History: not saved (the file could not be read at launch)"})
        << "one line, the first time a save is skipped";
}

TEST_F(HistoryStoreTest, AFolderInPlaceOfTheFileIsKeptAndNothingIsSaved) {
    fs::create_directories(url);
    writeFile(url / "keep.txt", "precious");
    HistoryStore store(url);
    expectKeptAndNeverSaved(store, log, "EISDIR 21");
    EXPECT_TRUE(fs::is_directory(url));
    EXPECT_EQ(readFile(url / "keep.txt"), "precious");
    EXPECT_EQ(asideCopiesBeside(url), std::vector<std::string>{});
}

TEST_F(HistoryStoreTest, AFileWithoutReadPermissionIsKeptAndNothingIsSaved) {
    const std::string bytes = fileWith({makeItem("precious", at(0))});
    writeFile(url, bytes);
    ::chmod(url.c_str(), 0);
    // Root reads anything, so the store runs in a child that gives up root first. The child
    // reports its log lines and its verdict through a pipe.
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        std::string report;
        {
            VirtualWorld childWorld;
            LogLines childLog;
            HistoryStore store(url);
            store.append(makeItem("a", at(0)));
            store.append(makeItem("b", at(1)));
            store.flush();
            for (const auto& line : childLog.take())
                report += line + "\n";
            if (!store.items().empty())
                report += "items kept in memory\n";
        }
        const bool sent = ::write(channel[1], report.data(), report.size()) ==
                          static_cast<ssize_t>(report.size());
        ::_exit(sent ? 0 : 4);
    }
    ::close(channel[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(report,
              "History: could not read history.json (EACCES 13): kept as it is, nothing is saved "
              "this run\n"
              "History: not saved (the file could not be read at launch)\n"
              "items kept in memory\n");
    EXPECT_EQ(readFile(url), bytes);
    EXPECT_EQ(permissions(url), 0u);
}

TEST_F(HistoryStoreTest, SavesWriteAPrivateFileInAPrivateFolder) {
    fs::remove(url.parent_path());
    const mode_t savedMask = ::umask(0);
    {
        HistoryStore store(url);
        store.append(makeItem("a", at(0), "Hi/there"));
        store.flush();
        EXPECT_EQ(readFile(url), fileWith(store.items()));
    }
    ::umask(savedMask);
    EXPECT_EQ(permissions(url), 0600u);
    EXPECT_EQ(permissions(url.parent_path()), 0700u);
    EXPECT_EQ(readFile(url),
              R"({"items":[{"appName":"Notes","bundleID":"org.example.notes","clean":"Hi\/there",)"
              R"("date":"2026-03-05T14:07:09.000Z","id":"a","inserted":true,"mode":"clean",)"
              R"("raw":"raw words"}],"version":1})");

    // A folder and a file left open to others by something else are closed again.
    ::chmod(url.parent_path().c_str(), 0755);
    ::chmod(url.c_str(), 0644);
    HistoryStore store(url);
    store.clear();
    store.flush();
    EXPECT_EQ(permissions(url), 0600u);
    EXPECT_EQ(permissions(url.parent_path()), 0700u);
    EXPECT_EQ(readFile(url), R"({"items":[],"version":1})");
    EXPECT_EQ(temporaryFilesBeside(url), std::vector<std::string>{});
}

TEST_F(HistoryStoreTest, LeftoverTemporaryFilesAreRemovedAtLoad) {
    writeFile(url, fileWith({makeItem("a", at(0))}));
    writeFile(url.string() + ".tmp.Ab12Cd", "{\"items\":[");
    writeFile(url.string() + ".tmp.zzzzzz", "");
    writeFile(url.parent_path() / "notes.txt", "not ours");
    HistoryStore store(url);
    EXPECT_EQ(temporaryFilesBeside(url), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(url.parent_path() / "notes.txt"));
    EXPECT_EQ(idsOf(store.items()), std::vector<std::string>{"a"});
}

TEST_F(HistoryStoreTest, AFailedSaveIsLoggedWithTheErrnoNameAndKeepsTheItems) {
    HistoryStore store(url);
    // Something takes the folder's place after the launch.
    fs::remove_all(url.parent_path());
    writeFile(url.parent_path(), "in the way");
    store.append(makeItem("a", at(0)));
    store.flush();
    EXPECT_EQ(log.take(), std::vector<std::string>{"History: save failed (ENOTDIR 20)"});
    EXPECT_EQ(idsOf(store.items()), std::vector<std::string>{"a"});
    EXPECT_EQ(PrivateFile::describe(28), "ENOSPC 28");
    EXPECT_EQ(PrivateFile::describe(13), "EACCES 13");
}

TEST_F(HistoryStoreTest, EachSaveWritesTheItemsAsTheyWereWhenItWasQueued) {
    HistoryStore store(url);
    store.append(makeItem("a", at(0)));
    store.append(makeItem("b", at(1)));
    EXPECT_FALSE(fs::exists(url)) << "saving never blocks the caller";
    ASSERT_TRUE(world.step());
    EXPECT_EQ(readFile(url), fileWith({makeItem("a", at(0))}));
    ASSERT_TRUE(world.step());
    EXPECT_EQ(readFile(url), fileWith(store.items()));

    // flush() waits for every queued save without the world running.
    store.append(makeItem("c", at(2)));
    store.flush();
    EXPECT_EQ(readFile(url), fileWith(store.items()));
    EXPECT_EQ(world.pending(), 0u);
}

TEST_F(HistoryStoreTest, AppendPlacesReplacesAndTrims) {
    HistoryStore store(url);
    EXPECT_EQ(store.append(makeItem("a", at(10))), std::vector<std::string>{});
    store.append(makeItem("b", at(10))); // same date: goes before "a"
    store.append(makeItem("c", at(20))); // newer: first
    store.append(makeItem("d", at(5)));  // older than all: last
    store.append(makeItem("e", at(10))); // before every item of its date
    EXPECT_EQ(idsOf(store.items()), (std::vector<std::string>{"c", "e", "b", "a", "d"}));

    // The same id again replaces the item and moves it to its new date's place.
    store.append(makeItem("a", at(30), "changed"));
    EXPECT_EQ(idsOf(store.items()), (std::vector<std::string>{"a", "c", "e", "b", "d"}));
    EXPECT_EQ(store.item("a")->clean, "changed");
    EXPECT_EQ(store.item("missing"), std::nullopt);

    store.flush();
    auto saved = HistoryStore::decodeFile(readFile(url));
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved->items, store.items());
}

TEST_F(HistoryStoreTest, TheItemPastTheCapIsTrimmedAndItsIdReturned) {
    std::vector<HistoryItem> full;
    for (int i = 499; i >= 0; --i)
        full.push_back(makeItem("n" + std::to_string(i), at(i)));
    writeFile(url, fileWith(full));
    HistoryStore store(url);
    ASSERT_EQ(store.items().size(), 500u);

    EXPECT_EQ(store.append(makeItem("newest", at(1000))), std::vector<std::string>{"n0"});
    EXPECT_EQ(store.items().size(), 500u);
    EXPECT_EQ(store.items().front().id, "newest");
    EXPECT_EQ(store.items().back().id, "n1");
    // Appending again an id that is already there trims nothing.
    EXPECT_EQ(store.append(makeItem("n250", at(2000))), std::vector<std::string>{});
    // An item older than everything in a full history is itself the one trimmed.
    EXPECT_EQ(store.append(makeItem("ancient", at(-1000))), std::vector<std::string>{"ancient"});
    EXPECT_FALSE(store.item("ancient"));

    store.flush();
    auto saved = HistoryStore::decodeFile(readFile(url));
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved->items, store.items());
}

TEST_F(HistoryStoreTest, DeleteSavesOnlyWhenSomethingWentAndClearAlwaysSaves) {
    HistoryStore store(url);
    EXPECT_FALSE(store.deleteItem("nothing"));
    EXPECT_EQ(world.pending(), 0u) << "no save queued";
    store.clear();
    store.flush();
    EXPECT_EQ(readFile(url), R"({"items":[],"version":1})") << "clearing nothing still saves";

    store.append(makeItem("a", at(0)));
    store.append(makeItem("b", at(1)));
    store.flush();
    EXPECT_TRUE(store.deleteItem("a"));
    store.flush();
    EXPECT_EQ(readFile(url), fileWith({makeItem("b", at(1))}));
    EXPECT_EQ(log.take(), std::vector<std::string>{});
}

TEST_F(HistoryStoreTest, ListFiltersByQueryLimitAndBefore) {
    HistoryStore store(url);
    store.append(makeItem("hello", at(4), "Hello World", "Notes", "hello world"));
    store.append(makeItem("milk", at(3), "Buy milk", "Mail", "buy milk"));
    store.append(makeItem("street", at(2), "Straße", "Notes", "strasse"));
    store.append(makeItem("cafe", at(1), "caf\u00E9", "Editor", "cafe"));
    store.append(makeItem("end", at(0), "end", "Notes", "x"));

    struct Case {
        std::optional<std::string> query;
        std::optional<std::int64_t> limit;
        std::optional<Wire::Date> before;
        std::vector<std::string> ids;
    };
    const std::vector<std::string> all = {"hello", "milk", "street", "cafe", "end"};
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, all},
        {" \t\n ", std::nullopt, std::nullopt, all},
        {"", 0, std::nullopt, {"hello"}},
        {"", -7, std::nullopt, {"hello"}},
        {"", 2, std::nullopt, {"hello", "milk"}},
        {"  WORLD\n", std::nullopt, std::nullopt, {"hello"}},
        {"notes", std::nullopt, std::nullopt, {"hello", "street", "end"}},
        {"notes", 2, std::nullopt, {"hello", "street"}},
        // The fields are joined by single spaces: clean, raw, application.
        {"milk buy", std::nullopt, std::nullopt, {"milk"}},
        {"milk mail", std::nullopt, std::nullopt, {"milk"}},
        {"milkbuy", std::nullopt, std::nullopt, {}},
        {"milk  buy", std::nullopt, std::nullopt, {}},
        {"STRASSE", std::nullopt, std::nullopt, {"street"}},
        {"cafe\u0301", std::nullopt, std::nullopt, {"cafe"}},
        // Only items strictly older than `before`.
        {std::nullopt, std::nullopt, at(3), {"street", "cafe", "end"}},
        {"notes", 1, at(3), {"street"}},
        {std::nullopt, std::nullopt, at(-1), {}},
    };
    for (const auto& [query, limit, before, ids] : cases) {
        SCOPED_TRACE(query.value_or("<none>") + " limit " +
                     (limit ? std::to_string(*limit) : "none") + " before " +
                     (before ? before->iso8601() : "none"));
        EXPECT_EQ(idsOf(store.list(query, limit, before)), ids);
    }
}

TEST_F(HistoryStoreTest, ListPagesDefaultTo50AndNeverExceedTheCap) {
    std::vector<HistoryItem> many;
    for (int i = 0; i < 520; ++i)
        many.push_back(makeItem("n" + std::to_string(i), at(i)));
    writeFile(url, fileWith(many));
    HistoryStore store(url);
    EXPECT_EQ(store.list(std::nullopt, std::nullopt, std::nullopt).size(), 50u);
    EXPECT_EQ(store.list(std::nullopt, 1000, std::nullopt).size(), 500u);
    EXPECT_EQ(
        store.list(std::nullopt, std::numeric_limits<std::int64_t>::max(), std::nullopt).size(),
        500u);
    EXPECT_EQ(
        store.list(std::nullopt, std::numeric_limits<std::int64_t>::min(), std::nullopt).size(),
        1u);
}

// Sets $TZ for one test and puts it back afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            m_saved = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_saved)
            ::setenv("TZ", m_saved->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_saved;
};

Wire::Date utc(const char* text) {
    return *Wire::date(text);
}

TEST_F(HistoryStoreTest, WordsTodayCountsFromTheLocalMidnightAcrossDaylightSavingChanges) {
    struct Case {
        const char* zone;
        const char* now;
        const char* startOfDay;
        const char* dayBefore;  // a moment of the previous local day that naive arithmetic
                                // would count as today
        const char* earlyToday; // a moment of today that naive arithmetic would miss or
                                // count as yesterday
    };
    const Case cases[] = {
        // Spring forward: the day has 23 hours; midnight was still in winter time.
        {"Europe/Berlin", "2026-03-29T20:00:00Z", "2026-03-28T23:00:00Z", "2026-03-28T22:30:00Z",
         "2026-03-28T23:00:00Z"},
        // Fall back: the day has 25 hours; midnight was still in summer time.
        {"Europe/Berlin", "2026-10-25T22:30:00Z", "2026-10-24T22:00:00Z", "2026-10-24T21:59:59Z",
         "2026-10-24T22:10:00Z"},
        // Havana springs forward at midnight itself: that day begins at 01:00.
        {"America/Havana", "2025-03-09T15:00:00Z", "2025-03-09T05:00:00Z", "2025-03-09T04:30:00Z",
         "2025-03-09T05:00:00Z"},
        {"UTC", "2026-03-05T00:00:30Z", "2026-03-05T00:00:00Z", "2026-03-04T23:59:59.999Z",
         "2026-03-05T00:00:00Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.now);
        ScopedTimeZone zone(c.zone);
        const Wire::Date now = utc(c.now);
        EXPECT_EQ(Calendar::current().startOfDay(now).iso8601(), utc(c.startOfDay).iso8601());

        HistoryStore store(url);
        store.clear();
        const Wire::Date aMinuteAhead(now.time() + 60s);
        const Wire::Date justPastAMinute(now.time() + 60s + 1ms);
        store.append(makeItem("ahead", aMinuteAhead, "one two"));             // counts
        store.append(makeItem("future", justPastAMinute, "skip skip skip"));  // skipped
        store.append(makeItem("now", now, "three-in-one it's"));              // 2 words
        store.append(makeItem("early", utc(c.earlyToday), "four"));           // counts
        store.append(makeItem("before", utc(c.dayBefore), "no no no no no")); // yesterday
        EXPECT_EQ(store.wordsToday(now, Calendar::current()), 5);
        store.flush();
    }
}

TEST_F(HistoryStoreTest, WordsTodayStopsAtTheFirstItemOfAnEarlierDay) {
    ScopedTimeZone zone("UTC");
    HistoryStore store(url);
    const Wire::Date now = utc("2026-03-05T12:00:00Z");
    store.append(makeItem("today", utc("2026-03-05T08:00:00Z"), "a b"));
    store.append(makeItem("yesterday", utc("2026-03-04T23:00:00Z"), "c d e"));
    store.append(makeItem("future", utc("2026-03-06T12:00:00Z"), "f g h i"));
    EXPECT_EQ(store.wordsToday(now, Calendar::current()), 2);
    EXPECT_EQ(store.wordsToday(utc("2026-03-04T23:30:00Z"), Calendar::current()), 3);
    store.clear();
    EXPECT_EQ(store.wordsToday(now, Calendar::current()), 0);
}

// An event loop whose serial queues are real threads, so that saves run beside the caller.
class ThreadedLoop final : public EventLoop {
public:
    ThreadedLoop() : m_previous(Runtime::install(this)) {}
    ~ThreadedLoop() override { Runtime::install(m_previous); }
    void post(Job) override { std::abort(); }
    void after(double, Job) override { std::abort(); }
    bool isMainThread() const override { return true; }
    double uptime() const override { return 0; }
    double continuous() const override { return 0; }
    WallTime now() const override { return std::chrono::system_clock::now(); }
    std::unique_ptr<SerialQueueBackend> makeSerialQueue(std::string label) override {
        return std::make_unique<ThreadSerialQueue>(std::move(label));
    }
    void runOnWorker(Job) override { std::abort(); }

private:
    EventLoop* m_previous;
};

TEST(HistoryStoreThreads, SavesOnTheirOwnThreadNeverSeeLaterChanges) {
    test::TempDir temp;
    LogLines log;
    const fs::path url = HistoryStore::defaultURL();
    ThreadedLoop loop;
    HistoryStore store(url);
    for (int i = 0; i < 60; ++i) {
        store.append(makeItem("n" + std::to_string(i), at(i), std::string(200, 'w')));
        if (i % 7 == 0)
            store.deleteItem("n" + std::to_string(i - 3));
    }
    store.flush();
    auto saved = HistoryStore::decodeFile(readFile(url));
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved->items, store.items());
    EXPECT_EQ(log.take(), std::vector<std::string>{});
}

// A save killed at any moment leaves the old file or the new one, whole. A child process keeps
// appending large items and saving; the parent kills it with SIGKILL a varying few milliseconds
// after a save it has heard of, while the next one is being encoded, written or synced, and then
// reads what is on disk. A real process has to die here, so this test waits in real time.
TEST(HistoryStoreCrash, AKillDuringASaveLeavesTheOldOrTheNewFileWhole) {
    test::TempDir temp;
    const fs::path url = HistoryStore::defaultURL();
    std::size_t known = 0;
    int leftoversSeen = 0;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        int channel[2];
        ASSERT_EQ(::pipe(channel), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(channel[0]);
            VirtualWorld world;
            CoreLog::setSink([](const std::string&) {});
            HistoryStore store(url);
            for (int i = 0;; ++i) {
                store.append(makeItem("r" + std::to_string(round) + "-" + std::to_string(i),
                                      at(round * 1000 + i),
                                      std::string(4000, static_cast<char>('a' + i % 26))));
                store.flush();
                if (::write(channel[1], "s", 1) != 1)
                    ::_exit(1);
            }
        }
        ::close(channel[1]);
        const int savesToWait = 1 + round % 4;
        char byte = 0;
        for (int heard = 0; heard < savesToWait; ++heard)
            ASSERT_EQ(::read(channel[0], &byte, 1), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 6 * 4));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(channel[0]);
        ASSERT_TRUE(WIFSIGNALED(status));

        for (const auto& leftover : temporaryFilesBeside(url)) {
            ++leftoversSeen;
            EXPECT_EQ(permissions(leftover), 0600u) << "a half-written file is private too";
        }
        auto onDisk = HistoryStore::decodeFile(readFile(url));
        ASSERT_TRUE(onDisk.ok()) << "the file on disk is whole: " << onDisk.message();
        EXPECT_EQ(onDisk->dropped, 0u);
        EXPECT_GE(onDisk->items.size(), std::min<std::size_t>(known + savesToWait, 500));
        known = onDisk->items.size();

        VirtualWorld world;
        LogLines log;
        HistoryStore reopened(url);
        EXPECT_EQ(reopened.items().size(), known);
        EXPECT_EQ(log.take(), std::vector<std::string>{});
        EXPECT_EQ(temporaryFilesBeside(url), std::vector<std::string>{});
    }
    std::cout << "kills that left a temporary file: " << leftoversSeen << " of 12\n";
}

} // namespace
} // namespace talverin
