// The history is loaded once at launch, before the first page can ask for it, and rewritten
// whole after every dictation on its own queue. The figures to watch: loading a full history of
// 500 items (budget 5 ms) and one save of 500 items, encoding, write, fsync and rename included
// (budget 10 ms); then encoding alone, the durable write alone, and a search over the full
// history as the settings page runs it on the main thread.
#include "TalverinCore/HistoryStore.h"

#include "Runtime/PrivateFile.h"
#include "Runtime/VirtualWorld.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace talverin {
namespace {

namespace fs = std::filesystem;

// A private folder under /tmp for one benchmark, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string name = (fs::temp_directory_path() / "talverin-bench.XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr)
            std::abort();
        m_path = name;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// 500 items of a typical size: a sentence or two of dictation in each text.
std::vector<HistoryItem> fullHistory() {
    std::vector<HistoryItem> items;
    for (int i = 0; i < 500; ++i) {
        std::string clean = "Item " + std::to_string(i) +
                            ": please send the quarterly report to the team before Friday, and "
                            "remind me to book the meeting room for the review.";
        items.push_back(HistoryItem{
            HistoryItem::newID(), Wire::Date::fromMillisecondsSince1970(1772719629000 - i * 60000),
            i % 3 == 0 ? "Mail" : "Notes", "org.example.app", clean,
            "item " + std::to_string(i) + " please send the quarterly report to the team",
            i % 4 != 0, DictationMode::clean});
    }
    return items;
}

void writeHistoryFile(const fs::path& url) {
    std::ofstream(url, std::ios::binary) << *HistoryStore::encodeFile(fullHistory());
}

void BM_Load500(benchmark::State& state) {
    ScratchFolder folder;
    const fs::path url = folder.path() / "history.json";
    writeHistoryFile(url);
    VirtualWorld world;
    for (auto _ : state) {
        HistoryStore store(url);
        benchmark::DoNotOptimize(store.items().data());
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(url));
}
BENCHMARK(BM_Load500)->Unit(benchmark::kMillisecond);

void BM_Save500(benchmark::State& state) {
    ScratchFolder folder;
    const fs::path url = folder.path() / "history.json";
    writeHistoryFile(url);
    VirtualWorld world;
    HistoryStore store(url);
    const HistoryItem newest{"newest",     Wire::Date::fromMillisecondsSince1970(1772719700000),
                             "Notes",      "",
                             "A new one.", "a new one",
                             true,         DictationMode::clean};
    for (auto _ : state) {
        store.append(newest); // replaces itself after the first round, so the size holds
        store.flush();
    }
}
BENCHMARK(BM_Save500)->Unit(benchmark::kMillisecond);

void BM_Encode500(benchmark::State& state) {
    const auto items = fullHistory();
    for (auto _ : state) {
        auto bytes = HistoryStore::encodeFile(items);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_Encode500)->Unit(benchmark::kMillisecond);

// The write alone, as the save's queue does it: a new private file beside the old one, its
// fsync, the rename over the old one and the folder's fsync. Both syncs are what a save needs to
// be durable (the first so that a crash never leaves a renamed but empty or partial file, the
// second so that the rename itself outlives a power cut); their cost is the disk's.
void BM_Replace500(benchmark::State& state) {
    ScratchFolder folder;
    const fs::path url = folder.path() / "history.json";
    writeHistoryFile(url);
    const std::string bytes = *HistoryStore::encodeFile(fullHistory());
    for (auto _ : state) {
        if (PrivateFile::replace(url, bytes) != 0) {
            state.SkipWithError("the file could not be replaced");
            break;
        }
    }
}
BENCHMARK(BM_Replace500)->Unit(benchmark::kMillisecond);

void BM_Search500(benchmark::State& state) {
    ScratchFolder folder;
    const fs::path url = folder.path() / "history.json";
    writeHistoryFile(url);
    VirtualWorld world;
    HistoryStore store(url);
    for (auto _ : state) {
        auto page = store.list("meeting ROOM for the review mail", std::nullopt, std::nullopt);
        benchmark::DoNotOptimize(page.data());
    }
}
BENCHMARK(BM_Search500)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talverin
