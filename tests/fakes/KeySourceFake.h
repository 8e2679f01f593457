#pragma once

#include "TalverinInput/KeySource.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace talverin::test {

// The keyboard of a test: it hands out key sources for tap sessions and lets the test send
// events to them, say which keys the probe finds down, hold a source at its open() and wait
// for a session to close its source. Safe from any thread: the sources run on tap threads.
class FakeKeyboard {
public:
    FakeKeyboard();

    // A source bound to this keyboard; every source shares its events and key states.
    std::unique_ptr<KeySource> makeSource();
    std::function<std::unique_ptr<KeySource>()> factory();

    // Queues an event for the session's next drain and wakes its loop.
    void send(TapEvent event);
    // The key-state probe's answer for a hold-key code.
    void setKeyDown(std::int64_t keyCode, bool down);
    // How open() fails; none: it succeeds.
    void setOpenFailure(std::optional<KeySourceError> failure);
    // While held, open() blocks, as a tap thread that does not come up.
    void holdOpen();
    void releaseOpen();

    int opens() const;
    int closes() const;
    int enables() const;
    int waits() const;
    int probes() const;
    // Events sent and not yet drained by a session.
    int pendingEvents() const;
    // Sources made and not yet destroyed.
    int liveSources() const;
    // Waits in real time until `done` holds.
    bool waitUntil(const std::function<bool()>& done, double seconds = 5) const;

    // An event of a hold-key code, stamped `uptime` in the X server's millisecond clock.
    static TapEvent event(KeyEventKind kind, std::int64_t keyCode, std::uint64_t flags,
                          double uptime);
    static std::uint32_t serverTime(double uptime);

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace talverin::test
