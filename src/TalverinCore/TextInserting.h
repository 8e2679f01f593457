#pragma once

#include "Runtime/Future.h"
#include "TalverinCore/DictationContext.h"
#include "TalverinCore/InsertOutcome.h"

#include <string>

namespace talverin {

// Puts dictated text into the focused application.
class TextInserting {
public:
    virtual ~TextInserting() = default;

    // Main thread, when a dictation is committed and before any text exists: the inserter
    // takes its snapshot of the clipboard while the target still has the focus.
    virtual void prepare() = 0;
    // Main thread. Inserts the text into the field the context describes and answers how it
    // went; it always answers, and a refusal is an answer, not an error.
    virtual Future<InsertOutcome> insert(std::string text, DictationContext context) = 0;
};

} // namespace talverin
