#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace talverin {

// Tells the program's own synthetic keys from everyone else's. The key tap hears the paste
// chord and typed keys from the same virtual device as any other synthetic input: a test
// driver, an on-screen keyboard, a remote desktop or a key remapper. So the poster announces
// each key event just before it posts it, and the key tap takes an event of that device as
// the program's own only when it matches an announced one that it has not matched yet. A key
// nobody announced, the hold key included, is always heard.
//
// Any thread. The application makes one and hands it to the poster and to every key tap.
class SyntheticInput {
public:
    enum class Stroke { press, release };

    // How long an announcement waits for its event. The event reaches the tap's connection
    // moments after the server handled it, but a busy machine may leave the tap thread
    // unscheduled for a good part of a second; an announcement whose event never came (no tap
    // was listening) must not take a later key of the same code for its own for long.
    static constexpr double defaultGrace = 1.0;

    explicit SyntheticInput(double grace = defaultGrace);
    // Tests give the clock, in seconds.
    SyntheticInput(double grace, std::function<double()> clock);

    // One reader's view of the announcements: each reader matches every announced event once,
    // so two key taps that overlap while the hold key changes both leave the posts out.
    class Reader {
    public:
        // The key tap: whether an event of a synthetic device is one the program posted.
        bool claim(int keycode, Stroke stroke);

    private:
        friend class SyntheticInput;
        Reader(SyntheticInput& input, std::uint64_t id) : m_input(&input), m_id(id) {}
        SyntheticInput* m_input;
        std::uint64_t m_id;
    };

    // The poster: the event it is about to post.
    void announce(int keycode, Stroke stroke);
    // A reader of its own for a key tap; it must not outlive this object.
    Reader reader();

private:
    struct Announced {
        int keycode = 0;
        Stroke stroke = Stroke::press;
        double at = 0;
        // The readers that matched it already.
        std::vector<std::uint64_t> matchedBy;
    };

    bool claim(std::uint64_t reader, int keycode, Stroke stroke);
    void forgetOld(double now);

    const double m_grace;
    const std::function<double()> m_clock;
    std::mutex m_mutex;
    std::deque<Announced> m_announced;
    std::uint64_t m_readers = 0;
};

} // namespace talverin
