#pragma once

#include "TalverinCore/MicBuffer.h"

#include <cstdint>
#include <vector>

namespace talverin {

// One dictation's streaming clip encoder: it encodes while the user speaks, so that on release
// only the last packets remain to be made.
class ClipEncoding {
public:
    virtual ~ClipEncoding() = default;

    // The microphone's audio queue, outside every lock. Queues the block and returns at once.
    virtual void append(const MicBuffer& buffer) = 0;
    // A background worker, never the main thread: blocks until every block appended before it
    // is encoded and answers the clip's bytes (Ogg Opus, or WAV when streaming failed).
    virtual std::vector<std::uint8_t> finish() = 0;
    // Main thread. Drops the samples; harmless on an encoder already cancelled or finished.
    virtual void cancel() = 0;
};

} // namespace talverin
