#pragma once

#include "Runtime/Future.h"
#include "TalverinCore/MicBuffer.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// On-device live recognition: the live words shown in the pill, and the draft text used when
// the cloud is not used or fails.
class LiveDrafting {
public:
    virtual ~LiveDrafting() = default;

    // Main thread: the whole current draft text of the running session, never of an earlier
    // one, and never after its finish() or cancel().
    std::function<void(const std::string& text)> onPartial;
    // Main thread. The finishing session's final text when recognition marked it confident
    // and it equals the whole transcript; otherwise none.
    virtual std::optional<std::string> confidentFinal() const = 0;
    // Main thread. Prepares recognition for these language tags; no session is opened.
    virtual void prewarm(const std::vector<std::string>& languages) = 0;
    // Main thread. Opens the session of a new dictation, replacing any previous one: a finish()
    // still waiting for the replaced session returns.
    virtual void start(const std::vector<std::string>& languages,
                       const std::vector<std::string>& contextualStrings) = 0;
    // The microphone's audio queue. Feeds one block to the running session; a block without
    // samples, or a block after finish() or cancel(), is ignored. Never blocks.
    virtual void append(const MicBuffer& buffer) = 0;
    // Main thread. Ends the session's audio and answers with its draft text within a short
    // cap; empty when nothing was recognised or there is no session. It never fails.
    virtual Future<std::string> finish() = 0;
    // Main thread. Drops the session; a finish() still waiting for it returns.
    virtual void cancel() = 0;
};

} // namespace talverin
