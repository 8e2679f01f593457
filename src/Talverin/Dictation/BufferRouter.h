#pragma once

#include "TalverinCore/ClipEncoding.h"
#include "TalverinCore/LiveDrafting.h"
#include "TalverinCore/MicBuffer.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace talverin {

// Fans every microphone block out to live recognition, the session's clip encoder and the
// level meter. Blocks arrive on the microphone's audio queue while the main thread binds and
// unbinds sessions, so the binding sits behind one lock, held only to read and write a few
// fields: the live draft and the encoder are called outside it, and nothing is allocated
// under it.
class BufferRouter {
public:
    // Main thread, always: a level sample of the session with that number.
    using LevelCallback = std::function<void(int session, float level)>;

    BufferRouter(std::shared_ptr<LiveDrafting> liveDraft, double levelInterval);
    BufferRouter(const BufferRouter&) = delete;
    BufferRouter& operator=(const BufferRouter&) = delete;

    // Main thread, once, before the first block.
    void setOnLevel(LevelCallback onLevel);

    // Main thread. Serves a new session: its blocks go to this encoder (none for no encoder)
    // and its levels are sent on. Replaces the previous binding.
    void begin(int session, std::shared_ptr<ClipEncoding> encoder);
    // Main thread. Serves no session: blocks still reach the live draft, but no encoder and no
    // level. Answers the time stamp of the first block since the last begin(), if any came.
    std::optional<double> unbind();

    // The microphone's audio queue: one block.
    void handle(const MicBuffer& buffer);

private:
    const std::shared_ptr<LiveDrafting> m_liveDraft;
    const double m_levelInterval;

    std::mutex m_lock;
    int m_session = 0;
    std::shared_ptr<ClipEncoding> m_encoder;
    std::optional<double> m_firstTime;
    double m_lastLevel = 0;
    // Behind a pointer so that the audio queue copies a reference count, not a function.
    std::shared_ptr<const LevelCallback> m_onLevel;
};

} // namespace talverin
