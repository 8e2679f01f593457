#pragma once

#include "TalverinCore/DictationContext.h"
#include "TalverinCore/InsertOutcome.h"
#include "TalverinInsert/Editability.h"

#include <optional>
#include <string>

namespace talverin {

// What the element that would receive posted keys is, as far as the inserter could tell just
// before posting them.
enum class InsertTarget {
    unknown,  // it could not be read: no keys may go there, it may be a password field
    field,    // a field that is not a password field
    secure,   // a password field
    terminal, // a terminal, which takes typed keys and not the paste chord
};

// What the inserter knows of the desktop at insertion time.
struct InsertEnvironment {
    bool trusted = false;
    bool secureInput = false;
    FocusVerdict focus = FocusVerdict::unknown;
    InsertTarget target = InsertTarget::unknown;
};

// What the inserter does with a text.
class InsertAction {
public:
    enum class Kind {
        refuse,
        copyOnly,
        pasteAndKeep,
        paste,
        type,
    };

    static InsertAction refuse(RefuseReason reason) { return {Kind::refuse, reason}; }
    static InsertAction copyOnly() { return {Kind::copyOnly, std::nullopt}; }
    static InsertAction pasteAndKeep() { return {Kind::pasteAndKeep, std::nullopt}; }
    static InsertAction paste() { return {Kind::paste, std::nullopt}; }
    static InsertAction type() { return {Kind::type, std::nullopt}; }

    Kind kind() const { return m_kind; }
    // The log word: "refuse(<reason>)", "copyOnly", "pasteAndKeep", "paste" or "type".
    std::string word() const;
    InsertOutcome outcome() const;
    // Whether carrying it out posts key events into the focused application.
    bool postsKeys() const {
        return m_kind == Kind::paste || m_kind == Kind::pasteAndKeep || m_kind == Kind::type;
    }

    bool operator==(const InsertAction&) const = default;

private:
    InsertAction(Kind kind, std::optional<RefuseReason> reason) : m_kind(kind), m_reason(reason) {}

    Kind m_kind;
    std::optional<RefuseReason> m_reason;
};

// The inserter's two pure decisions.
namespace InsertPlan {

// Refusals that need nothing but the text and the context: an empty text (after trimming
// whitespace and line breaks), then a password field.
std::optional<RefuseReason> early(const std::string& text, const DictationContext& context);
// How sure the context is that its element takes text.
Editability target(const DictationContext& context);

} // namespace InsertPlan

} // namespace talverin
