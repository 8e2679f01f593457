#pragma once

#include "TalverinInsert/PasteboardAccessing.h"

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace talverin::test {

// A clipboard held in memory. Every write, ours or the test's (copy()), bumps the change
// count. A test can make reads see the content change, make the owner stop answering, fail
// writes, and play the focused application reading the pasted text (serve()).
class PasteboardFake final : public PasteboardAccessing {
public:
    std::vector<ClipItem> items;
    std::int64_t count = 1;
    bool failWrites = false;
    // Reads during which someone else copies (one per read, while above zero).
    int changesDuringRead = 0;
    // Reads whose owner does not answer (one per read, while above zero).
    int unansweredReads = 0;
    std::vector<std::vector<ClipItem>> writes;
    int reads = 0;
    // What the clipboard held at each hand-off to a clipboard manager.
    std::vector<std::vector<ClipItem>> handedOff;
    bool managerRuns = true;

    // Someone else copies these items.
    void copy(std::vector<ClipItem> newItems) {
        items = std::move(newItems);
        ++count;
    }
    static ClipItem item(std::vector<std::pair<std::string, std::string>> entries) {
        ClipItem clip;
        for (auto& [type, data] : entries)
            clip.entries.push_back({std::move(type), std::move(data)});
        return clip;
    }
    // The focused application reads the current content as text.
    void serve() {
        std::vector<std::function<void()>> due;
        {
            std::lock_guard lock(m_mutex);
            for (auto it = m_watches.begin(); it != m_watches.end();) {
                if (it->first == count) {
                    due.push_back(std::move(it->second));
                    it = m_watches.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& callback : due)
            callback();
    }
    std::size_t watching() const {
        std::lock_guard lock(m_mutex);
        return m_watches.size();
    }

    std::int64_t changeCount() override { return count; }
    Result<PasteboardTypeLists, PasteboardError> itemTypes() override {
        if (unansweredReads > 0)
            return fail(PasteboardError::unanswered);
        PasteboardTypeLists types;
        for (const auto& item : items) {
            types.emplace_back();
            for (const auto& entry : item.entries)
                types.back().push_back(entry.type);
        }
        return types;
    }
    Result<std::vector<ClipItem>, PasteboardError> readItems(std::int64_t maxBytes) override {
        ++reads;
        if (unansweredReads > 0) {
            --unansweredReads;
            return fail(PasteboardError::unanswered);
        }
        std::int64_t total = 0;
        for (const auto& item : items)
            for (const auto& entry : item.entries)
                if ((total += static_cast<std::int64_t>(entry.data.size())) > maxBytes)
                    return fail(PasteboardError::tooLarge);
        auto read = items;
        if (changesDuringRead > 0) {
            --changesDuringRead;
            ++count;
        }
        return read;
    }
    Result<void, PasteboardError> write(const std::vector<ClipItem>& newItems) override {
        if (failWrites)
            return fail(PasteboardError::notTaken);
        writes.push_back(newItems);
        items = newItems;
        ++count;
        return {};
    }
    void watchServed(std::int64_t changeCount, std::function<void()> onServed) override {
        std::lock_guard lock(m_mutex);
        m_watches.emplace_back(changeCount, std::move(onServed));
    }
    // The way onto the inserter's queue that it handed over.
    std::function<bool(std::function<void()>)> post;
    void serveOn(std::function<bool(std::function<void()>)> onQueue) override {
        post = std::move(onQueue);
    }
    bool handOff() override {
        if (!managerRuns)
            return false;
        handedOff.push_back(items);
        return true;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<std::int64_t, std::function<void()>>> m_watches;
};

} // namespace talverin::test
