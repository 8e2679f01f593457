// labels: tsan
#include "Runtime/DefaultsStore.h"

#include "Runtime/VirtualWorld.h"

#include "support/StderrCapture.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin {
namespace {

using nlohmann::json;
using test::TempDir;

// A store over the defaults file of a temporary home, with its log lines collected.
class DefaultsFile : public testing::Test {
protected:
    std::filesystem::path folder() const { return temp.configHome() / "Talverin"; }
    std::filesystem::path file() const { return folder() / "defaults.json"; }

    std::unique_ptr<DefaultsStoreFile> open() {
        return std::make_unique<DefaultsStoreFile>(DefaultsStoreFile::defaultPath(),
                                                   [this](const std::string& line) {
                                                       std::lock_guard lock(logMutex);
                                                       logLines.push_back(line);
                                                   });
    }

    std::vector<std::string> takeLog() {
        std::lock_guard lock(logMutex);
        return std::exchange(logLines, {});
    }

    std::vector<std::string> filesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir temp;
    std::mutex logMutex;
    std::vector<std::string> logLines;
};

enum class Backend { Memory, File };

void PrintTo(Backend backend, std::ostream* os) {
    *os << (backend == Backend::Memory ? "Memory" : "File");
}

// Both backends keep the same contract.
class DefaultsContract : public testing::TestWithParam<Backend> {
protected:
    std::unique_ptr<DefaultsStore> make() {
        if (GetParam() == Backend::Memory)
            return std::make_unique<DefaultsStoreMemory>();
        return std::make_unique<DefaultsStoreFile>(DefaultsStoreFile::defaultPath());
    }
    TempDir temp;
};

TEST_P(DefaultsContract, StoresOneLooseValuePerKey) {
    const std::vector<std::pair<std::string, json>> values = {
        {"settings", json{{"holdKey", "rightOption"}, {"languages", {"en", "ru"}}}},
        {"TLDuckPending", json{{"volume", 0.25}, {"muted", false}}},
        {"count", 42},
        {"flag", true},
        {"nothing", nullptr},
        {"text", "привет 👋"},
        {"", "the empty key is a key"},
    };
    auto store = make();
    for (const auto& [key, value] : values) {
        EXPECT_FALSE(store->contains(key));
        EXPECT_EQ(store->get(key), std::nullopt);
        store->set(key, value);
    }
    store->set("count", 43);
    store->remove("flag");
    store->remove("never set");
    for (const auto& [key, value] : values) {
        const json expected = key == "count" ? json(43) : value;
        EXPECT_EQ(store->contains(key), key != "flag") << key;
        EXPECT_EQ(store->get(key), key == "flag" ? std::nullopt : std::optional(expected)) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, DefaultsContract,
                         testing::Values(Backend::Memory, Backend::File),
                         [](const auto& info) { return testing::PrintToString(info.param); });

TEST_F(DefaultsFile, ChangesAreOnDiskWhenTheCallReturns) {
    auto store = open();
    store->set("settings", json{{"soundsEnabled", true}});
    store->set("removed", 1);
    store->remove("removed");

    const auto onDisk = DefaultsStoreFile::parse(test::readFile(file()));
    ASSERT_TRUE(onDisk.ok()) << onDisk.message();
    EXPECT_EQ(*onDisk, json({{"settings", {{"soundsEnabled", true}}}}));

    auto reloaded = open();
    EXPECT_EQ(reloaded->get("settings"), json({{"soundsEnabled", true}}));
    EXPECT_FALSE(reloaded->contains("removed"));
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(DefaultsFile, FileIsPrivateWhateverTheUmask) {
    const mode_t previous = ::umask(0);
    open()->set("k", "v");
    ::umask(previous);
    EXPECT_EQ(test::permissions(folder()), 0700u);
    EXPECT_EQ(test::permissions(file()), 0600u);
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"defaults.json"});
}

TEST_F(DefaultsFile, MissingFileIsAnEmptyStoreThatCreatesNothing) {
    auto store = open();
    EXPECT_FALSE(store->contains("settings"));
    store->remove("settings");
    EXPECT_FALSE(std::filesystem::exists(temp.configHome()));
    EXPECT_TRUE(takeLog().empty());
}

struct CorruptCase {
    const char* name;
    std::string bytes;
    std::string reason;
};

// Readable case names in test listings, instead of the bytes of each case.
void PrintTo(const CorruptCase& c, std::ostream* os) {
    *os << c.name;
}

const CorruptCase corruptCases[] = {
    {"Garbage", "{not json", "invalid JSON at byte 3"},
    {"Truncated", "{\"settings\": {\"a\": 1", "invalid JSON at byte 21"},
    {"TrailingText", "{} {}", "invalid JSON at byte 4"},
    {"Array", "[1, 2]", "not a JSON object"},
    {"String", "\"settings\"", "not a JSON object"},
    {"Empty", "", "the file is empty"},
    {"IllFormedUtf8", "{\"k\": \"\xFF\"}", "invalid JSON at byte 8"},
};

class DefaultsCorrupt : public DefaultsFile, public testing::WithParamInterface<CorruptCase> {};

TEST_P(DefaultsCorrupt, IsSetAsideUnderItsTimeAndNeverOverwritten) {
    const auto& c = GetParam();
    VirtualWorld world;
    world.setWallClock(WallTime(std::chrono::seconds(1'781'134'085))); // 2026-06-10 23:28:05 UTC
    std::filesystem::create_directories(folder());
    test::writeFile(file(), c.bytes);

    auto store = open();
    const std::string aside = "defaults.corrupt-20260610T232805Z.json";
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Defaults: could not read defaults.json (" +
                                                  c.reason + "): set aside as " + aside});
    EXPECT_FALSE(store->contains("settings"));
    EXPECT_FALSE(std::filesystem::exists(file()));

    store->set("settings", json{{"fresh", true}});
    EXPECT_EQ(test::readFile(folder() / aside), c.bytes);
    EXPECT_EQ(open()->get("settings"), json({{"fresh", true}}));
    EXPECT_TRUE(takeLog().empty());
}

INSTANTIATE_TEST_SUITE_P(All, DefaultsCorrupt, testing::ValuesIn(corruptCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Three bad files within one second, the first meeting a copy already set aside by hand:
// every earlier copy survives and each line names where its file went.
TEST_F(DefaultsFile, CorruptFilesInARowKeepEveryCopy) {
    VirtualWorld world;
    world.setWallClock(WallTime(std::chrono::seconds(1'781'134'085)));
    std::filesystem::create_directories(folder());
    test::writeFile(folder() / "defaults.corrupt-20260610T232805Z.json", "earlier");

    const std::string contents[] = {"{first", "[\"second\"]", ""};
    for (const auto& bytes : contents) {
        test::writeFile(file(), bytes);
        open();
    }
    const auto log = takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_TRUE(log[0].ends_with("set aside as defaults.corrupt-20260610T232805Z-2.json"));
    EXPECT_TRUE(log[1].ends_with("set aside as defaults.corrupt-20260610T232805Z-3.json"));
    EXPECT_TRUE(log[2].ends_with("set aside as defaults.corrupt-20260610T232805Z-4.json"));
    EXPECT_EQ(test::readFile(folder() / "defaults.corrupt-20260610T232805Z.json"), "earlier");
    EXPECT_EQ(test::readFile(folder() / "defaults.corrupt-20260610T232805Z-2.json"), "{first");
    EXPECT_EQ(test::readFile(folder() / "defaults.corrupt-20260610T232805Z-3.json"),
              "[\"second\"]");
    EXPECT_EQ(test::readFile(folder() / "defaults.corrupt-20260610T232805Z-4.json"), "");

    // A later second gets a name of its own.
    world.setWallClock(WallTime(std::chrono::seconds(1'781'134'086)));
    test::writeFile(file(), "{fourth");
    open();
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Defaults: could not read defaults.json "
                                                  "(invalid JSON at byte 3): set aside as "
                                                  "defaults.corrupt-20260610T232806Z.json"});
}

// A file that is there but cannot be read may hold the user's consent, rules and words: it
// stays as it is, the store works from defaults in memory and saves nothing over it.
TEST_F(DefaultsFile, UnreadableFileStaysAndNothingIsSavedOverIt) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
        std::string reason;
    };
    const Case cases[] = {
        {"folder",
         [](const auto& path) {
             std::filesystem::create_directories(path / "inside");
             test::writeFile(path / "inside" / "keep", "keep");
         },
         "Is a directory"},
        {"pipe", [](const auto& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
         "Invalid argument"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder());
        std::filesystem::create_directories(folder());
        c.make(file());
        const auto before = filesInFolder();

        auto store = open();
        EXPECT_EQ(takeLog(),
                  std::vector<std::string>{"Defaults: could not read defaults.json (" + c.reason +
                                           "): left in place; changes will not be saved"});
        store->set("settings", json{{"fresh", true}});
        store->remove("other");
        EXPECT_EQ(store->get("settings"), json({{"fresh", true}}));
        EXPECT_TRUE(takeLog().empty());
        EXPECT_EQ(filesInFolder(), before);
        if (std::string(c.name) == "folder")
            EXPECT_EQ(test::readFile(file() / "inside" / "keep"), "keep");
    }
}

// When every name for the copy is taken, the bad file stays where it is and nothing is saved
// over it.
TEST_F(DefaultsFile, CorruptFileThatCannotBeSetAsideIsNeverOverwritten) {
    VirtualWorld world;
    world.setWallClock(WallTime(std::chrono::seconds(1'781'134'085)));
    std::filesystem::create_directories(folder());
    test::writeFile(folder() / "defaults.corrupt-20260610T232805Z.json", "taken");
    for (int n = 2; n <= 1000; ++n)
        test::writeFile(folder() /
                            ("defaults.corrupt-20260610T232805Z-" + std::to_string(n) + ".json"),
                        "taken");
    test::writeFile(file(), "{bad");

    auto store = open();
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Defaults: could not read defaults.json "
                                                  "(invalid JSON at byte 2) nor set it aside "
                                                  "(File exists): changes will not be saved"});
    store->set("settings", json{{"fresh", true}});
    EXPECT_EQ(test::readFile(file()), "{bad");
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(DefaultsFile, WithoutALogFunctionLinesGoToStandardError) {
    VirtualWorld world;
    world.setWallClock(WallTime(std::chrono::seconds(1'781'134'085)));
    std::filesystem::create_directories(folder());
    test::writeFile(file(), "[]");
    test::StderrCapture capture;
    DefaultsStoreFile store(DefaultsStoreFile::defaultPath());
    EXPECT_EQ(capture.text(), "Defaults: could not read defaults.json (not a JSON object): set "
                              "aside as defaults.corrupt-20260610T232805Z.json\n");
}

TEST_F(DefaultsFile, LeftoverTempFilesAreRemovedAtLoad) {
    std::filesystem::create_directories(folder());
    test::writeFile(file(), R"({"settings":{"a":1}})");
    test::writeFile(folder() / "defaults.json.tmp.Ab12Cd", R"({"settings":{"a":)");
    test::writeFile(folder() / "history.json.tmp.Ab12Cd", "not ours");

    auto store = open();
    EXPECT_EQ(store->get("settings"), json({{"a", 1}}));
    EXPECT_EQ(filesInFolder(),
              (std::vector<std::string>{"defaults.json", "history.json.tmp.Ab12Cd"}));
    EXPECT_TRUE(takeLog().empty());
}

// RLIMIT_FSIZE makes write(2) fail part-way with EFBIG, as a full disk would with ENOSPC.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

TEST_F(DefaultsFile, FailedWriteKeepsTheValueAndTheOldFile) {
    auto store = open();
    store->set("settings", json{{"old", true}});
    const std::string before = test::readFile(file());
    {
        FileSizeLimit limit(64);
        store->set("big", std::string(4096, 'x'));
    }
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Defaults: could not save defaults.json (File "
                                                  "too large)"});
    EXPECT_EQ(store->get("big"), json(std::string(4096, 'x')));
    EXPECT_EQ(test::readFile(file()), before);
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"defaults.json"});

    // Setting the same value again must still write, because the disk never saw it.
    store->set("big", std::string(4096, 'x'));
    EXPECT_EQ(open()->get("big"), json(std::string(4096, 'x')));
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(DefaultsFile, FolderThatCannotBeMadeIsLoggedNotFatal) {
    std::filesystem::create_directories(temp.configHome());
    test::writeFile(folder(), "a file where the folder belongs");
    auto store = open();
    store->set("k", 1);
    EXPECT_EQ(store->get("k"), json(1));
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Defaults: could not save defaults.json (" +
                                                  folder().string() + ": Not a directory)"});
}

TEST_F(DefaultsFile, ConcurrentWritersAllLand) {
    constexpr int threads = 8;
    constexpr int keysPerThread = 20;
    auto store = open();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&store, t] {
            for (int k = 0; k < keysPerThread; ++k) {
                const std::string key = "t" + std::to_string(t) + "k" + std::to_string(k);
                store->set(key, json{{"thread", t}, {"key", k}});
                store->set("shared", t);
                EXPECT_TRUE(store->contains(key));
                store->get("shared");
            }
        });
    }
    for (auto& worker : workers)
        worker.join();

    const auto onDisk = DefaultsStoreFile::parse(test::readFile(file()));
    ASSERT_TRUE(onDisk.ok()) << onDisk.message();
    EXPECT_EQ(onDisk->size(), std::size_t(threads * keysPerThread + 1));
    auto reloaded = open();
    for (int t = 0; t < threads; ++t)
        for (int k = 0; k < keysPerThread; ++k)
            EXPECT_EQ(reloaded->get("t" + std::to_string(t) + "k" + std::to_string(k)),
                      json({{"thread", t}, {"key", k}}));
    EXPECT_EQ(reloaded->get("shared"), store->get("shared"));
    EXPECT_TRUE(takeLog().empty());
}

bool hasTempFile(const std::filesystem::path& folder) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        if (it->path().filename().string().starts_with("defaults.json.tmp."))
            return true;
    return false;
}

// The child rewrites one large record in a loop and reports each finished write on a pipe.
// After the first whole file, the parent waits until a temporary file exists and kills the
// child then, or a little later in later rounds, so the kill lands inside a write.
TEST_F(DefaultsFile, KillDuringAWriteLeavesAWholeFile) {
    constexpr std::size_t payloadSize = 256 * 1024;
    int roundsWithLeftover = 0;
    // Under load a kill can miss every write; keep going until one lands inside a write.
    for (int round = 0; round < 4 || (roundsWithLeftover == 0 && round < 40); ++round) {
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(report[0]);
            DefaultsStoreFile store(DefaultsStoreFile::defaultPath(), [](const std::string&) {});
            for (int i = 0; i < 100000; ++i) {
                store.set(
                    "record",
                    json{{"n", i}, {"payload", std::string(payloadSize, char('a' + i % 26))}});
                if (::write(report[1], "w", 1) != 1)
                    break;
            }
            ::_exit(0);
        }
        ::close(report[1]);
        char byte;
        const bool wroteOnce = ::read(report[0], &byte, 1) == 1;
        // Bounded, so that a store that never uses a temporary file fails instead of hanging.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (wroteOnce && !hasTempFile(folder()) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
        for (int i = 0; i < (round % 4) * 20; ++i)
            hasTempFile(folder());
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(report[0]);
        ASSERT_TRUE(wroteOnce && WIFSIGNALED(status)) << "round " << round;

        const auto onDisk = DefaultsStoreFile::parse(test::readFile(file()));
        ASSERT_TRUE(onDisk.ok()) << "round " << round << ": " << onDisk.message();
        roundsWithLeftover += hasTempFile(folder()) ? 1 : 0;
        auto store = open();
        const auto record = store->get("record");
        ASSERT_TRUE(record.has_value());
        const int n = (*record)["n"].get<int>();
        EXPECT_EQ((*record)["payload"], std::string(payloadSize, char('a' + n % 26)));
        EXPECT_EQ(filesInFolder(), std::vector<std::string>{"defaults.json"});
        EXPECT_TRUE(takeLog().empty());
    }
    // Otherwise the kills all missed the writes and the test proved little.
    EXPECT_GT(roundsWithLeftover, 0);
}

TEST(DefaultsParse, AcceptsOnlyAnObjectOfKeys) {
    EXPECT_TRUE(DefaultsStoreFile::parse("{}").ok());
    EXPECT_TRUE(DefaultsStoreFile::parse("\xEF\xBB\xBF{\"a\": [1, {\"b\": null}]}").ok());
    const auto deep = DefaultsStoreFile::parse(std::string(5000, '[') + std::string(5000, ']'));
    ASSERT_FALSE(deep.ok());
    EXPECT_EQ(deep.error(), DefaultsFileError::NotAnObject);
}

} // namespace
} // namespace talverin
