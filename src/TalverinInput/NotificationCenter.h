#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace talverin {

// The names of the system notices that hold-key input listens to. The backends that hear the
// system (logind, the accessibility bus) and the application shell post them.
namespace SystemNotification {
// The machine is about to sleep.
inline constexpr std::string_view willSleep = "willSleep";
// The machine woke up.
inline constexpr std::string_view didWake = "didWake";
// One of the application's windows took the focus.
inline constexpr std::string_view didBecomeActive = "didBecomeActive";
// The user's session stopped being the active one (another user switched in).
inline constexpr std::string_view sessionDidResignActive = "sessionDidResignActive";
// The screen was locked.
inline constexpr std::string_view screenIsLocked = "screenIsLocked";
} // namespace SystemNotification

// A place where named notices are posted and observed. Observers are registered, removed and
// called on the main thread; a notice may be posted from any thread and reaches the observers
// on the main thread.
class NotificationCenter {
public:
    using Token = std::uint64_t;
    using Handler = std::function<void()>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Main thread. `handler` runs each time `name` is posted, until the token is removed.
    Token addObserver(std::string_view name, Handler handler);
    // Main thread. Unknown or already removed tokens are ignored.
    void removeObserver(Token token);
    // Any thread. On the main thread the observers run at once; from any other thread the
    // notice is carried to the main queue first. Observers removed meanwhile are not called.
    void post(std::string_view name);

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace talverin
