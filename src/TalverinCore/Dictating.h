#pragma once

#include "Runtime/Future.h"
#include "TalverinCore/DictateReply.h"
#include "TalverinCore/DictateRequest.h"

namespace talverin {

// Cloud dictation.
class Dictating {
public:
    virtual ~Dictating() = default;

    // Main thread. True when a backend is configured.
    virtual bool isConfigured() const = 0;
    // Main thread, when a dictation begins: prepares the token and the connection ahead of the
    // request; does nothing without a backend.
    virtual void warmUp() = 0;
    // Main thread. Sends one dictation and answers with the result, one of the service's
    // errors (notConfigured without a backend, timeout when the budget runs out), or another
    // failure with its text. It always answers.
    virtual Future<DictateReply> dictate(DictateRequest request) = 0;
};

} // namespace talverin
