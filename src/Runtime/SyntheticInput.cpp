#include "Runtime/SyntheticInput.h"

#include <algorithm>

namespace talverin {

namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

SyntheticInput::SyntheticInput(double grace) : SyntheticInput(grace, steadySeconds) {}

SyntheticInput::SyntheticInput(double grace, std::function<double()> clock)
    : m_grace(std::max(grace, 0.0)), m_clock(std::move(clock)) {}

void SyntheticInput::announce(int keycode, Stroke stroke) {
    std::lock_guard lock(m_mutex);
    const double now = m_clock();
    forgetOld(now);
    m_announced.push_back({keycode, stroke, now, {}});
}

SyntheticInput::Reader SyntheticInput::reader() {
    std::lock_guard lock(m_mutex);
    return Reader(*this, ++m_readers);
}

bool SyntheticInput::Reader::claim(int keycode, Stroke stroke) {
    return m_input->claim(m_id, keycode, stroke);
}

bool SyntheticInput::claim(std::uint64_t reader, int keycode, Stroke stroke) {
    std::lock_guard lock(m_mutex);
    forgetOld(m_clock());
    // The oldest match: the server delivers one client's events in the order they were posted.
    for (auto& announced : m_announced) {
        if (announced.keycode != keycode || announced.stroke != stroke ||
            std::ranges::find(announced.matchedBy, reader) != announced.matchedBy.end())
            continue;
        announced.matchedBy.push_back(reader);
        return true;
    }
    return false;
}

void SyntheticInput::forgetOld(double now) {
    while (!m_announced.empty() && now - m_announced.front().at > m_grace)
        m_announced.pop_front();
}

} // namespace talverin
