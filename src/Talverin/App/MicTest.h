#pragma once

#include "Runtime/Liveness.h"
#include "Talverin/Web/Bridge.h"
#include "TalverinCore/MicCapturing.h"
#include "TalverinCore/WireEvent.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace talverin {

// The microphone level test of the pages: runs for the page that asked for it while that page
// is on screen, the microphone is allowed and no dictation uses it, and sends that page the
// readings. Main thread only; readings arrive on the microphone's queue and are moved to the
// main queue before anything here is read.
class MicTest {
public:
    using Role = Bridge::ViewRole;

    explicit MicTest(MicCapturing& mic);
    ~MicTest();
    MicTest(const MicTest&) = delete;
    MicTest& operator=(const MicTest&) = delete;

    std::function<void(const Wire::Event&, Role)> send = [](const Wire::Event&, Role) {};
    std::function<bool()> micAllowed = [] { return false; };
    std::function<bool()> micFree = [] { return true; };
    std::function<bool(Role)> onScreen = [](Role) { return true; };

    // The page that asked for the test; set by the shell before it calls update().
    std::optional<Role> wantedBy;

    // Starts or stops the test as its conditions now say; called on every change of them.
    void update();
    // A dictation began and took the microphone over: the readings stop at once. The test
    // starts again at the next update() after the dictation, when it is still wanted.
    void dictationBegan();

    bool isRunning() const { return m_running; }
    std::uint64_t generation() const { return m_generation; }

private:
    void start();
    void received(const MicCheckReading& reading, std::uint64_t generation);

    MicCapturing& m_mic;
    bool m_running = false;
    // A level check was begun and not yet ended; it may outlive m_running across a dictation.
    bool m_checkOpen = false;
    std::uint64_t m_generation = 0;
    Liveness m_alive;
};

} // namespace talverin
