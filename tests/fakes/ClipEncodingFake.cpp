#include "fakes/ClipEncodingFake.h"

namespace talverin::test {

void ClipEncodingFake::append(const MicBuffer&) {
    std::lock_guard lock(m_mutex);
    ++m_blocks;
    if (m_cancelled || m_finished)
        ++m_late;
}

std::vector<std::uint8_t> ClipEncodingFake::finish() {
    log.record("finish");
    std::lock_guard lock(m_mutex);
    m_finished = true;
    return std::vector<std::uint8_t>(m_cancelled ? 0 : m_blocks, 0x4f);
}

void ClipEncodingFake::cancel() {
    log.record("cancel");
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
}

std::size_t ClipEncodingFake::appendedBlocks() const {
    std::lock_guard lock(m_mutex);
    return m_blocks;
}

std::size_t ClipEncodingFake::lateBlocks() const {
    std::lock_guard lock(m_mutex);
    return m_late;
}

bool ClipEncodingFake::isCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

} // namespace talverin::test
