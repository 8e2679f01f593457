#pragma once

#include "TalverinInsert/PasteboardAccessing.h"

#include <string>

namespace talverin {

// The clipboard when there is no display: nothing can be read or written, so the inserter
// reports a failed write and falls back to typing, which fails the same way and says so.
class PasteboardNull final : public PasteboardAccessing {
public:
    explicit PasteboardNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    std::int64_t changeCount() override { return 0; }
    Result<PasteboardTypeLists, PasteboardError> itemTypes() override {
        return fail(PasteboardError::unanswered, m_reason);
    }
    Result<std::vector<ClipItem>, PasteboardError> readItems(std::int64_t) override {
        return fail(PasteboardError::unanswered, m_reason);
    }
    Result<void, PasteboardError> write(const std::vector<ClipItem>&) override {
        return fail(PasteboardError::notTaken, m_reason);
    }
    bool waitServed(std::int64_t, double) override { return false; }
    bool handOff() override { return false; }

private:
    std::string m_reason;
};

} // namespace talverin
