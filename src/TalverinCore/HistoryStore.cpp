#include "TalverinCore/HistoryStore.h"

#include "Runtime/Paths.h"
#include "Runtime/Unicode.h"
#include "TalverinCore/CoreLog.h"
#include "Runtime/PrivateFile.h"
#include "TalverinCore/WordCount.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <utility>

namespace talverin {
namespace {

// A listing's query and the text it is looked for in are compared lowered and composed, so
// that a letter typed precomposed finds the same letter stored decomposed.
std::string searchable(std::string_view text) {
    return Unicode::nfc(Unicode::lower(text));
}

} // namespace

std::filesystem::path HistoryStore::defaultURL() {
    return Paths::appDataDir() / "history.json";
}

Wire::Coded<HistoryStore::FileContents> HistoryStore::decodeFile(std::string_view bytes) {
    auto tree = Wire::decoder().read(bytes);
    if (!tree)
        return fail(tree.error(), tree.message());
    FileContents contents;
    try {
        const Wire::ObjectReader object(*tree);
        const nlohmann::json* items = object.find("items");
        if (items == nullptr)
            Wire::failCoding(Wire::CodingError::keyNotFound, "no value for the key \"items\"");
        if (!items->is_array())
            Wire::failCoding(Wire::CodingError::typeMismatch,
                             "expected an array of items, found " + Wire::describeType(*items));
        // Any whole number will do; the version says only that this is a history file.
        object.required<std::int64_t>("version");
        // Each element is read on its own, so one damaged item costs only itself.
        contents.items.reserve(items->size());
        for (const auto& element : *items) {
            if (auto item = Wire::decodeValue<HistoryItem>(element))
                contents.items.push_back(std::move(*item));
            else
                ++contents.dropped;
        }
    } catch (const Wire::CodingFailure& failure) {
        return fail(failure.error(), failure.message());
    }
    std::stable_sort(contents.items.begin(), contents.items.end(),
                     [](const HistoryItem& a, const HistoryItem& b) { return a.date > b.date; });
    if (contents.items.size() > cap)
        contents.items.erase(contents.items.begin() + cap, contents.items.end());
    return contents;
}

Wire::Coded<std::string> HistoryStore::encodeFile(const std::vector<HistoryItem>& items) {
    return Wire::encoder().write({{"items", Wire::encodeValue(items)}, {"version", 1}});
}

HistoryStore::HistoryStore(std::filesystem::path url) : m_url(std::move(url)) {
    load();
}

HistoryStore::~HistoryStore() = default;

void HistoryStore::load() {
    PrivateFile::removeLeftovers(m_url);
    const PrivateFile::Contents contents = PrivateFile::read(m_url);
    if (contents.error == ENOENT)
        return;
    if (contents.error != 0) {
        // The file is there but out of reach for now (permissions, an I/O error, a folder in
        // its place). Starting empty and saving would replace every item the user has.
        m_saveBlocked = true;
        CoreLog::write("History: could not read " + m_url.filename().string() + " (" +
                       PrivateFile::describe(contents.error) +
                       "): kept as it is, nothing is saved this run");
        return;
    }
    auto decoded = decodeFile(contents.bytes);
    if (!decoded) {
        // Every damaged file keeps a copy of its own: an earlier one may still hold items the
        // user wants back. When the move failed the damaged file is still the only copy of the
        // user's history, and the next save would replace it; keep it and save nothing, as for
        // a file that cannot be read.
        if (PrivateFile::setAside(m_url).error != 0) {
            m_saveBlocked = true;
            CoreLog::write("History: the file did not decode (" +
                           std::to_string(contents.bytes.size()) +
                           " bytes) and could not be set aside: kept as it is, nothing is saved "
                           "this run");
            return;
        }
        CoreLog::write("History: the file did not decode (" +
                       std::to_string(contents.bytes.size()) +
                       " bytes): set aside, starting empty");
        return;
    }
    if (decoded->dropped > 0)
        CoreLog::write("History: dropped " + std::to_string(decoded->dropped) +
                       " unreadable items");
    m_items = std::move(decoded->items);
}

void HistoryStore::save() {
    if (m_saveBlocked) {
        if (!m_reportedBlockedSave) {
            m_reportedBlockedSave = true;
            CoreLog::write("History: not saved (the file could not be read at launch)");
        }
        return;
    }
    // The write gets its own copy, so a later change cannot alter a write already queued.
    m_queue.async([url = m_url, items = m_items] {
        auto bytes = encodeFile(items);
        if (!bytes) {
            CoreLog::write("History: save failed (CodingError " +
                           std::to_string(static_cast<int>(bytes.error())) + ")");
            return;
        }
        if (const int error = PrivateFile::replace(url, *bytes); error != 0)
            CoreLog::write("History: save failed (" + PrivateFile::describe(error) + ")");
    });
}

std::vector<std::string> HistoryStore::append(HistoryItem item) {
    std::erase_if(m_items, [&](const HistoryItem& old) { return old.id == item.id; });
    const auto place = std::find_if(m_items.begin(), m_items.end(),
                                    [&](const HistoryItem& old) { return old.date <= item.date; });
    m_items.insert(place, std::move(item));
    std::vector<std::string> removed;
    if (m_items.size() > cap) {
        for (auto it = m_items.begin() + cap; it != m_items.end(); ++it)
            removed.push_back(it->id);
        m_items.erase(m_items.begin() + cap, m_items.end());
    }
    save();
    return removed;
}

std::optional<HistoryItem> HistoryStore::item(std::string_view id) const {
    const auto found = std::find_if(m_items.begin(), m_items.end(),
                                    [&](const HistoryItem& item) { return item.id == id; });
    if (found == m_items.end())
        return std::nullopt;
    return *found;
}

std::vector<HistoryItem> HistoryStore::list(const std::optional<std::string>& query,
                                            std::optional<std::int64_t> limit,
                                            std::optional<Wire::Date> before) const {
    const std::string needle =
        searchable(Unicode::trimWhitespaceAndNewlines(query.value_or(std::string())));
    const std::int64_t pageSize =
        limit ? std::clamp<std::int64_t>(*limit, 1, static_cast<std::int64_t>(cap)) : defaultLimit;
    std::vector<HistoryItem> page;
    for (const HistoryItem& item : m_items) {
        if (before && !(item.date < *before))
            continue;
        if (!needle.empty() &&
            searchable(item.clean + " " + item.raw + " " + item.appName).find(needle) ==
                std::string::npos)
            continue;
        page.push_back(item);
        if (static_cast<std::int64_t>(page.size()) >= pageSize)
            break;
    }
    return page;
}

bool HistoryStore::deleteItem(std::string_view id) {
    if (std::erase_if(m_items, [&](const HistoryItem& item) { return item.id == id; }) == 0)
        return false;
    save();
    return true;
}

void HistoryStore::clear() {
    m_items.clear();
    save();
}

std::int64_t HistoryStore::wordsToday(Wire::Date now, const Calendar& calendar) const {
    const Wire::Date start = calendar.startOfDay(now);
    // A clock set back a little should not hide what was just dictated; far-future items are
    // another matter.
    const Wire::Date latest(now.time() + std::chrono::seconds(60));
    std::int64_t words = 0;
    for (const HistoryItem& item : m_items) {
        if (item.date < start)
            break;
        if (item.date > latest)
            continue;
        words += WordCount::of(item.clean);
    }
    return words;
}

void HistoryStore::flush() {
    // A sync from the queue itself would run inline, before the saves it is meant to wait for.
    assert(!m_queue.isCurrent());
    m_queue.sync([] {});
}

} // namespace talverin
