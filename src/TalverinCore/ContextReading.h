#pragma once

#include "TalverinCore/DictationContext.h"

namespace talverin {

// Reads the focused field of whatever application has the keyboard focus.
class ContextReading {
public:
    virtual ~ContextReading() = default;

    // A background worker; blocks it while it reads, with `timeoutMs` for each accessibility
    // call. Always answers: a reader that can read nothing answers with a context of its own
    // making (DictationContext::unknown() at worst).
    virtual DictationContext read(int timeoutMs) = 0;
};

} // namespace talverin
