#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// Why a text was not inserted: the payload of a refused pill and of a refused insertion.
enum class RefuseReason {
    secureField,         // the focused field is a password field
    elementChanged,      // the focused field changed before the text could be inserted
    noAccessibility,     // without the accessibility permission nothing can be inserted
    editFailed,          // a voice edit could not be carried out
    empty,               // the text to insert is empty
    noSpeechRecognition, // empty because the draft was used without speech recognition
};

template <> struct EnumTable<RefuseReason> {
    static constexpr auto entries = std::to_array<EnumEntry<RefuseReason>>({
        {RefuseReason::secureField, "secureField"},
        {RefuseReason::elementChanged, "elementChanged"},
        {RefuseReason::noAccessibility, "noAccessibility"},
        {RefuseReason::editFailed, "editFailed"},
        {RefuseReason::empty, "empty"},
        {RefuseReason::noSpeechRecognition, "noSpeechRecognition"},
    });
};

} // namespace talverin
