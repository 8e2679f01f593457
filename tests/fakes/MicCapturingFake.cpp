#include "fakes/MicCapturingFake.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace talverin::test {

MicCapturingFake::MicCapturingFake() = default;

// Queued blocks and readings hold the fake weakly: destroying it first leaves them harmless.
MicCapturingFake::~MicCapturingFake() {
    m_alive.reset();
}

std::optional<std::string> MicCapturingFake::deviceID() const {
    std::lock_guard lock(m_mutex);
    return m_deviceID;
}

void MicCapturingFake::setDeviceID(std::optional<std::string> id) {
    log.record("setDeviceID", id.value_or("(automatic)"));
    std::lock_guard lock(m_mutex);
    m_deviceID = std::move(id);
}

void MicCapturingFake::setOnBuffer(BufferCallback onBuffer) {
    log.record("setOnBuffer");
    std::lock_guard lock(m_mutex);
    m_onBuffer = std::move(onBuffer);
}

std::optional<std::string> MicCapturingFake::deviceName() const {
    std::lock_guard lock(m_mutex);
    return m_deviceName;
}

void MicCapturingFake::setDeviceName(std::optional<std::string> name) {
    std::lock_guard lock(m_mutex);
    m_deviceName = std::move(name);
}

Result<void, MicError> MicCapturingFake::prewarm() {
    log.record("prewarm");
    std::lock_guard lock(m_mutex);
    if (prewarmAnswers.empty())
        return {};
    auto answer = std::move(prewarmAnswers.front());
    prewarmAnswers.pop_front();
    return answer;
}

Result<void, MicError> MicCapturingFake::begin() {
    log.record("begin");
    std::lock_guard lock(m_mutex);
    if (endPending())
        ADD_FAILURE() << "MicCapturing::begin() was called while an end() had not answered; "
                         "a new capture must wait for the previous stop";
    Result<void, MicError> answer;
    if (!beginAnswers.empty()) {
        answer = std::move(beginAnswers.front());
        beginAnswers.pop_front();
    }
    if (answer.ok()) {
        m_capturing = true;
        m_ends.clear();
    }
    return answer;
}

Future<CapturedClip> MicCapturingFake::end(int postRollMs) {
    log.record("end", std::to_string(postRollMs));
    {
        std::lock_guard lock(m_mutex);
        if (endPending())
            ADD_FAILURE() << "MicCapturing::end() was called while an earlier end() had not "
                             "answered; a new end must wait for the previous one";
    }
    std::optional<Promise<CapturedClip>> answer = endAnswers.take();
    if (!answer) {
        answer.emplace();
        answer->resolve(CapturedClip::empty());
    }
    std::lock_guard lock(m_mutex);
    m_ends.push_back(*answer);
    return answer->future();
}

void MicCapturingFake::beginLevelCheck(ReadingCallback onReading) {
    log.record("beginLevelCheck");
    std::lock_guard lock(m_mutex);
    m_onReading = std::move(onReading);
}

void MicCapturingFake::endLevelCheck() {
    log.record("endLevelCheck");
    std::lock_guard lock(m_mutex);
    m_onReading = nullptr;
}

bool MicCapturingFake::endPending() const {
    return std::any_of(m_ends.begin(), m_ends.end(),
                       [](const auto& end) { return !end.isResolved(); });
}

// The capture closes when its first end() has answered.
bool MicCapturingFake::captureOpen() const {
    return m_capturing && !(!m_ends.empty() && m_ends.front().isResolved());
}

bool MicCapturingFake::isCapturing() const {
    std::lock_guard lock(m_mutex);
    return captureOpen();
}

bool MicCapturingFake::isChecking() const {
    std::lock_guard lock(m_mutex);
    return static_cast<bool>(m_onReading);
}

void MicCapturingFake::hand(const MicBuffer& buffer) {
    BufferCallback onBuffer;
    {
        std::lock_guard lock(m_mutex);
        if (!captureOpen() || !m_onBuffer) {
            ++m_dropped;
            return;
        }
        ++m_delivered;
        onBuffer = m_onBuffer;
    }
    onBuffer(buffer);
}

void MicCapturingFake::deliver(MicBuffer buffer) {
    m_audio.async([this, alive = std::weak_ptr<int>(m_alive), buffer = std::move(buffer)] {
        if (alive.lock())
            hand(buffer);
    });
}

void MicCapturingFake::deliverAfter(double seconds, MicBuffer buffer) {
    m_audio.after(seconds, [this, alive = std::weak_ptr<int>(m_alive), buffer = std::move(buffer)] {
        if (alive.lock())
            hand(buffer);
    });
}

void MicCapturingFake::sendReading(MicCheckReading reading) {
    m_control.async([this, alive = std::weak_ptr<int>(m_alive), reading] {
        if (!alive.lock())
            return;
        ReadingCallback onReading;
        {
            std::lock_guard lock(m_mutex);
            onReading = m_onReading;
        }
        if (onReading)
            onReading(reading);
    });
}

std::size_t MicCapturingFake::deliveredBlocks() const {
    std::lock_guard lock(m_mutex);
    return m_delivered;
}

std::size_t MicCapturingFake::droppedBlocks() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

} // namespace talverin::test
