#include "TalverinAudio/LevelMeter.h"

#include "TalverinAudio/MicLevel.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace talverin {

LevelMeter::Measure LevelMeter::measure(const AudioBlock& block) {
    const int channels = block.format().channels;
    if (channels <= 0 || block.samples().empty())
        return {};
    if (!block.isPCM())
        return {0, true};

    const auto& samples = block.samples();
    const std::size_t frames = block.frames();
    const auto width = static_cast<std::size_t>(channels);
    float sum = 0;
    bool nonZero = false;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        float average = 0;
        for (std::size_t c = 0; c < width; ++c) {
            float sample = samples[frame * width + c];
            nonZero = nonZero || sample != 0;
            average += sample;
        }
        average /= static_cast<float>(channels);
        sum += average * average;
    }
    return {std::sqrt(sum / static_cast<float>(frames)), nonZero};
}

void LevelMeter::tap(const AudioBlock& block) {
    if (!isActive())
        return;
    Measure measured = measure(block);
    add(MicLevel::level(measured.rms), measured.nonZero);
}

void LevelMeter::add(float level, bool nonZero) {
    std::lock_guard lock(m_lock);
    if (!m_active)
        return;
    m_pending.peak = std::max(m_pending.peak, level);
    if (level > speechLevel)
        m_pending.loud = true;
    if (nonZero)
        m_pending.nonZero = true;
    ++m_pending.blocks;
}

void LevelMeter::activate() {
    std::lock_guard lock(m_lock);
    if (m_active)
        return;
    m_active = true;
    m_pending = {};
}

void LevelMeter::deactivate() {
    std::lock_guard lock(m_lock);
    m_active = false;
    m_pending = {};
}

LevelMeter::Drained LevelMeter::drain() {
    std::lock_guard lock(m_lock);
    return std::exchange(m_pending, {});
}

bool LevelMeter::isActive() const {
    std::lock_guard lock(m_lock);
    return m_active;
}

} // namespace talverin
