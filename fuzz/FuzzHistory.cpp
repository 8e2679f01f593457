// Feeds arbitrary bytes to the reader of the history file. It may refuse them, never throw or
// crash; what it accepts must be at most the cap, newest first, and survive being written and
// read again unchanged, with nothing dropped the second time.
#include "TalverinCore/HistoryStore.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using talverin::HistoryStore;

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto contents = HistoryStore::decodeFile(bytes);
    if (!contents.ok())
        return 0;
    const auto& items = contents->items;
    check(items.size() <= HistoryStore::cap);
    for (std::size_t i = 1; i < items.size(); ++i)
        check(!(items[i - 1].date < items[i].date));

    auto written = HistoryStore::encodeFile(items);
    check(written.ok());
    auto again = HistoryStore::decodeFile(*written);
    check(again.ok() && again->dropped == 0 && again->items == items);
    auto rewritten = HistoryStore::encodeFile(again->items);
    check(rewritten.ok() && *rewritten == *written);
    return 0;
}
