#pragma once

#include "TalverinCore/TextInserting.h"

#include <string>
#include <utility>

namespace talverin {

// The inserter of a desktop that cannot be reached (no display, no accessibility bus): nothing
// is snapshotted, and every text is refused for want of accessibility, so the controller shows
// the refusal instead of claiming an insertion. `reason` says why, for the launch log.
class TextInsertingNull final : public TextInserting {
public:
    explicit TextInsertingNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    void prepare() override {}
    Future<InsertOutcome> insert(std::string, DictationContext) override {
        return Future<InsertOutcome>::ready(InsertOutcome::refused(RefuseReason::noAccessibility));
    }

private:
    std::string m_reason;
};

} // namespace talverin
