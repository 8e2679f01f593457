#include "Talverin/App/MicTest.h"

#include "Runtime/MainQueue.h"
#include "Talverin/App/Log.h"

namespace talverin {

MicTest::MicTest(MicCapturing& mic) : m_mic(mic) {}

MicTest::~MicTest() {
    m_alive.end();
    if (m_checkOpen)
        m_mic.endLevelCheck();
}

void MicTest::update() {
    // The questions are asked in this order, and only as far as needed.
    const bool shouldRun = wantedBy && onScreen(*wantedBy) && micAllowed() && micFree();
    if (shouldRun && !m_running) {
        start();
    } else if (!shouldRun && m_running) {
        ++m_generation;
        m_running = false;
        m_checkOpen = false;
        tlLog("Mic test: off");
        m_mic.endLevelCheck();
    } else if (!shouldRun && m_checkOpen) {
        // A dictation stopped the readings but left the check begun; a test nobody wants any
        // more must not keep it open.
        m_checkOpen = false;
        m_mic.endLevelCheck();
    }
}

void MicTest::start() {
    const std::uint64_t generation = ++m_generation;
    m_running = true;
    m_checkOpen = true;
    tlLog("Mic test: on");
    m_mic.beginLevelCheck([this, alive = m_alive.token(), generation](const MicCheckReading& reading) {
        // The microphone's queue: nothing of the test is read here.
        MainQueue::post([this, alive, generation, reading] {
            if (alive)
                received(reading, generation);
        });
    });
}

void MicTest::dictationBegan() {
    if (!m_running)
        return;
    m_running = false;
    ++m_generation;
}

void MicTest::received(const MicCheckReading& reading, std::uint64_t generation) {
    if (generation != m_generation || !m_running || !wantedBy)
        return;
    send(Wire::Event::micLevel(reading), *wantedBy);
}

} // namespace talverin
