#pragma once

#include "Runtime/Liveness.h"
#include "Talverin/Web/Bridge.h"
#include "TalverinCore/KeyCaptureResult.h"
#include "TalverinCore/KeyTapping.h"
#include "TalverinCore/WireEvent.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace talverin {

// Lets one page at a time capture a new hold key through the key tap. A capture waits at most
// `timeout` seconds for a key; a refused key gives the user the whole time again. Another page
// that starts a capture takes it over, and the first page hears that its capture was
// cancelled. Main thread only.
class KeyCaptureCoordinator {
public:
    using Role = Bridge::ViewRole;

    explicit KeyCaptureCoordinator(KeyTapping& keyTap, double timeout = 10);
    ~KeyCaptureCoordinator();
    KeyCaptureCoordinator(const KeyCaptureCoordinator&) = delete;
    KeyCaptureCoordinator& operator=(const KeyCaptureCoordinator&) = delete;

    // Delivers an event to one page.
    std::function<void(const Wire::Event&, Role)> send = [](const Wire::Event&, Role) {};
    std::function<bool()> isDictating = [] { return false; };

    // Installs the key tap's capture callback; once, after the callbacks above are set.
    void start();
    // A page turns its capture on or off.
    KeyCaptureAnswer set(bool on, Role role);
    // A dictation began: a running capture is cancelled.
    void dictationBegan();

    // The page that owns the running capture; none while no capture runs.
    std::optional<Role> role() const { return m_role; }

private:
    void arm();
    void received(const KeyCaptureResult& result);
    // Ends the running capture at the key tap and tells its page it was cancelled.
    void cancel(const char* why);

    KeyTapping& m_keyTap;
    double m_timeout;
    std::optional<Role> m_role;
    // Changes whenever a capture starts, ends or is re-armed; a timeout from before is stale.
    std::uint64_t m_token = 0;
    Liveness m_alive;
};

} // namespace talverin
