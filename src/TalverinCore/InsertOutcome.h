#pragma once

#include "TalverinCore/RefuseReason.h"

#include <optional>

namespace talverin {

// The inserter's answer: the text went into the field, it was only left on the clipboard, or
// nothing was inserted for the reason given. A refusal is an answer, not an error.
class InsertOutcome {
public:
    enum class Kind {
        inserted,
        copiedOnly,
        refused,
    };

    static InsertOutcome inserted() { return InsertOutcome(Kind::inserted, std::nullopt); }
    static InsertOutcome copiedOnly() { return InsertOutcome(Kind::copiedOnly, std::nullopt); }
    static InsertOutcome refused(RefuseReason reason) {
        return InsertOutcome(Kind::refused, reason);
    }

    Kind kind() const { return m_kind; }
    // The reason of a refusal; none for the other outcomes.
    std::optional<RefuseReason> reason() const { return m_reason; }

    bool operator==(const InsertOutcome&) const = default;

private:
    InsertOutcome(Kind kind, std::optional<RefuseReason> reason) : m_kind(kind), m_reason(reason) {}

    Kind m_kind;
    std::optional<RefuseReason> m_reason;
};

} // namespace talverin
