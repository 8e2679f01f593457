#pragma once

#include <memory>

namespace talverin {

// Tells delayed work whether the object that scheduled it still exists. The owner holds a
// `Liveness` as a member and hands out tokens; a callback captures a token next to `this` and
// returns at once when the token says the owner is gone. It is checked on the thread that owns
// the object (the main queue), so the answer cannot change while the callback runs.
//
//     MainQueue::after(2, [alive = m_alive.token(), this] {
//         if (!alive) return;
//         poll();
//     });
class Liveness {
public:
    class Token {
    public:
        Token() = default;
        explicit operator bool() const { return !m_flag.expired(); }

    private:
        friend class Liveness;
        explicit Token(std::weak_ptr<const bool> flag) : m_flag(std::move(flag)) {}
        std::weak_ptr<const bool> m_flag;
    };

    Liveness() = default;
    // A copy or a move of the owner is a different object: it gets its own flag.
    Liveness(const Liveness&) : Liveness() {}
    Liveness& operator=(const Liveness&) { return *this; }

    Token token() const { return Token(m_flag); }
    // Every token reads "gone" from now on. Owners call it first in their destructor, before
    // the members that callbacks use go away; the destructor does it at the latest.
    void end() { m_flag.reset(); }

private:
    std::shared_ptr<const bool> m_flag = std::make_shared<const bool>(true);
};

} // namespace talverin
