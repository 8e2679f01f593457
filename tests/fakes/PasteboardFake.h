#pragma once

#include "TalverinInsert/PasteboardAccessing.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace talverin::test {

// A clipboard held in memory. Every write, ours or the test's (copy()), bumps the change
// count. A test can make reads see the content change, make the owner stop answering, fail
// writes, and say whether the focused application reads the pasted text.
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
    // Whether the focused application reads what was pasted (as a target that takes the paste
    // chord does); the waits made, with their limits.
    bool targetReads = true;
    std::vector<double> waits;
    // Called with the limit of a wait that ran out, so a test can let that time pass.
    std::function<void(double)> onWaitedOut;

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
    bool waitServed(std::int64_t changeCount, double timeout) override {
        waits.push_back(timeout);
        if (targetReads && changeCount == count)
            return true;
        if (onWaitedOut)
            onWaitedOut(timeout);
        return false;
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

};

} // namespace talverin::test
