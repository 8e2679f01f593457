#include "TalverinInsert/InsertPlan.h"

#include "Runtime/Unicode.h"
#include "TalverinInsert/AXElementBox.h"

namespace talverin {

std::string InsertAction::word() const {
    switch (m_kind) {
    case Kind::refuse:
        return "refuse(" + std::string(toString(*m_reason)) + ")";
    case Kind::copyOnly:
        return "copyOnly";
    case Kind::pasteAndKeep:
        return "pasteAndKeep";
    case Kind::paste:
        return "paste";
    case Kind::type:
        return "type";
    }
    return {};
}

InsertOutcome InsertAction::outcome() const {
    switch (m_kind) {
    case Kind::refuse:
        return InsertOutcome::refused(*m_reason);
    case Kind::copyOnly:
        return InsertOutcome::copiedOnly();
    default:
        return InsertOutcome::inserted();
    }
}

std::optional<RefuseReason> InsertPlan::early(const std::string& text,
                                              const DictationContext& context) {
    if (Unicode::trimWhitespaceAndNewlines(text).empty())
        return RefuseReason::empty;
    if (context.isSecure)
        return RefuseReason::secureField;
    return std::nullopt;
}

Editability InsertPlan::target(const DictationContext& context) {
    if (context.isEditable)
        return Editability::editable;
    if (!context.elementToken)
        return Editability::unknown;
    const auto* box = context.elementToken->as<AXElementBox>();
    if (box && box->editability == Editability::unknown)
        return Editability::unknown;
    return Editability::notEditable;
}

} // namespace talverin
