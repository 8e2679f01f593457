#include "Runtime/SyntheticInput.h"

#include <algorithm>

namespace talverin {

SyntheticInput::SyntheticInput(double grace)
    : m_grace(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(std::max(grace, 0.0)))) {}

void SyntheticInput::beginPosting() {
    std::lock_guard lock(m_mutex);
    ++m_open;
}

void SyntheticInput::endPosting() {
    std::lock_guard lock(m_mutex);
    // An unmatched end must not leave the mark set for ever.
    if (m_open > 0)
        --m_open;
    m_until = std::max(m_until, std::chrono::steady_clock::now() + m_grace);
}

bool SyntheticInput::isPosting() const {
    std::lock_guard lock(m_mutex);
    return m_open > 0 || std::chrono::steady_clock::now() < m_until;
}

} // namespace talverin
