#include "Talverin/Dictation/BufferRouter.h"

#include "Runtime/MainQueue.h"

namespace talverin {

BufferRouter::BufferRouter(std::shared_ptr<LiveDrafting> liveDraft, double levelInterval)
    : m_liveDraft(std::move(liveDraft)), m_levelInterval(levelInterval) {}

void BufferRouter::setOnLevel(LevelCallback onLevel) {
    auto callback = std::make_shared<const LevelCallback>(std::move(onLevel));
    std::lock_guard lock(m_lock);
    m_onLevel = std::move(callback);
}

void BufferRouter::begin(int session, std::shared_ptr<ClipEncoding> encoder) {
    std::shared_ptr<ClipEncoding> previous;
    {
        std::lock_guard lock(m_lock);
        m_session = session;
        previous = std::exchange(m_encoder, std::move(encoder));
        m_firstTime.reset();
        m_lastLevel = 0;
    }
    // The previous encoder, if this held the last reference, is destroyed outside the lock.
}

std::optional<double> BufferRouter::unbind() {
    std::shared_ptr<ClipEncoding> previous;
    std::lock_guard lock(m_lock);
    m_session = 0;
    previous = std::exchange(m_encoder, nullptr);
    return m_firstTime;
}

void BufferRouter::handle(const MicBuffer& buffer) {
    m_liveDraft->append(buffer);

    std::shared_ptr<ClipEncoding> encoder;
    std::shared_ptr<const LevelCallback> onLevel;
    int session = 0;
    bool sendLevel = false;
    {
        std::lock_guard lock(m_lock);
        if (!m_firstTime)
            m_firstTime = buffer.time();
        encoder = m_encoder;
        session = m_session;
        // The throttle runs on the blocks' own time stamps, so a burst of late blocks is
        // thinned the same way as blocks that arrive on time.
        if (session != 0 && buffer.time() - m_lastLevel >= m_levelInterval) {
            m_lastLevel = buffer.time();
            sendLevel = true;
            onLevel = m_onLevel;
        }
    }

    if (encoder)
        encoder->append(buffer);
    if (sendLevel && onLevel && *onLevel) {
        float level = buffer.level();
        MainQueue::post(
            [onLevel = std::move(onLevel), session, level] { (*onLevel)(session, level); });
    }
}

} // namespace talverin
