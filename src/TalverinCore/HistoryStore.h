#pragma once

#include "Runtime/SerialQueue.h"
#include "TalverinCore/Calendar.h"
#include "TalverinCore/HistoryItem.h"
#include "TalverinCore/WireCoding.h"
#include "TalverinCore/WireDate.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talverin {

// The dictation history: at most `cap` items, newest first, kept in one JSON file that is
// rewritten whole after every change. Every member but flush() is called on the main thread;
// the file is written on the store's own serial queue, each write with its own copy of the items.
class HistoryStore {
public:
    static constexpr std::size_t cap = 500;          // the most items kept
    static constexpr std::int64_t defaultLimit = 50; // the page size of a listing without a limit

    // $XDG_DATA_HOME/Talverin/history.json.
    static std::filesystem::path defaultURL();

    // The items of a history file, newest first, at most `cap`, and how many elements were
    // dropped because they did not read as items.
    struct FileContents {
        std::vector<HistoryItem> items;
        std::size_t dropped = 0;
    };
    // Reads a history file: {"items": [...], "version": integer}. Fails when the object as a
    // whole does not read; an element that does not read is dropped and counted. The items come
    // back sorted by date, newest first, equal dates in file order, cut to `cap`.
    static Wire::Coded<FileContents> decodeFile(std::string_view bytes);
    // The file the store writes for these items.
    static Wire::Coded<std::string> encodeFile(const std::vector<HistoryItem>& items);

    // Loads the file before returning. A file that does not decode is set aside in the same
    // folder under a name no earlier copy has (history.corrupt-<UTC time>[-n].json); a file
    // that exists but cannot be read, or that cannot be set aside, is kept as it is, and then
    // this run saves nothing, so that it is never overwritten.
    explicit HistoryStore(std::filesystem::path url);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    const std::filesystem::path& url() const { return m_url; }
    const std::vector<HistoryItem>& items() const { return m_items; }

    // Adds the item in its date's place, in front of items with the same date, replacing any
    // item with its id; then trims to `cap` and saves. Answers the ids the trim removed, oldest
    // last.
    std::vector<std::string> append(HistoryItem item);

    // The first item with that id.
    std::optional<HistoryItem> item(std::string_view id) const;

    // Items newest first, only those strictly older than `before` when it is given, whose
    // clean text, raw text and application name (joined by single spaces) contain the query
    // ignoring case; a query of white space matches all. At most `limit` items, which is
    // raised to 1 and lowered to `cap`; defaultLimit when absent.
    std::vector<HistoryItem> list(const std::optional<std::string>& query,
                                  std::optional<std::int64_t> limit,
                                  std::optional<Wire::Date> before) const;

    // Removes every item with that id and saves; answers false, and saves nothing, when there
    // was none.
    bool deleteItem(std::string_view id);

    // Removes every item and saves, also when the history was empty.
    void clear();

    // The words of the clean texts dictated since the start of the calendar day of `now`,
    // leaving out items dated more than a minute after `now`.
    std::int64_t wordsToday(Wire::Date now, const Calendar& calendar) const;

    // Any thread but the store's queue. Returns once every save queued before it has finished.
    void flush();

private:
    void load();
    void save();

    const std::filesystem::path m_url;
    std::vector<HistoryItem> m_items;
    // Set when the file exists but could not be read at launch: saving would destroy it.
    bool m_saveBlocked = false;
    bool m_reportedBlockedSave = false;
    // Last, so that it is destroyed first and finishes its writes while the rest still stands.
    SerialQueue m_queue{"history"};
};

} // namespace talverin
