#pragma once

#include "TalverinCore/ContextReading.h"
#include "fakes/AnswerScript.h"
#include "fakes/CallLog.h"

namespace talverin::test {

// A context reader driven by the test. read() is synchronous and blocks its worker, so a
// latency or an answer left to the test is played out inside the call: the virtual world runs
// on (main queue, timers, other queues) until the answer is there, and only then does read()
// return. That needs a VirtualWorld; reading on the main queue fails the test, since the real
// read would block it.
class ContextReadingFake final : public ContextReading {
public:
    CallLog log;
    // The contexts of the coming reads; nothing scripted: `fallback` at once.
    AnswerScript<DictationContext> answers;
    DictationContext fallback = DictationContext::unknown();

    DictationContext read(int timeoutMs) override;
};

} // namespace talverin::test
