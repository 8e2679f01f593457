#include "fakes/KeySourceFake.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <utility>

namespace talverin::test {

struct FakeKeyboard::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<TapEvent> events;
    std::set<std::int64_t> keysDown;
    std::optional<KeySourceError> openFailure;
    bool openHeld = false;
    bool woken = false;
    int opens = 0;
    int closes = 0;
    int enables = 0;
    int waits = 0;
    int probes = 0;
    int liveSources = 0;
};

namespace {

class KeySourceFake final : public KeySource {
public:
    explicit KeySourceFake(std::shared_ptr<FakeKeyboard::State> state) : m_state(std::move(state)) {
        std::lock_guard lock(m_state->mutex);
        ++m_state->liveSources;
    }
    ~KeySourceFake() override {
        std::lock_guard lock(m_state->mutex);
        --m_state->liveSources;
        m_state->changed.notify_all();
    }

    Result<void, KeySourceError> open() override {
        std::unique_lock lock(m_state->mutex);
        m_state->changed.wait(lock, [this] { return !m_state->openHeld; });
        ++m_state->opens;
        m_state->changed.notify_all();
        if (m_state->openFailure)
            return fail(*m_state->openFailure, "refused by the test");
        return {};
    }

    void close() override {
        std::lock_guard lock(m_state->mutex);
        ++m_state->closes;
        m_state->changed.notify_all();
    }

    void wait(double timeout) override {
        std::unique_lock lock(m_state->mutex);
        ++m_state->waits;
        auto ready = [this] { return m_state->woken || !m_state->events.empty(); };
        if (timeout < 0)
            m_state->changed.wait(lock, ready);
        else
            m_state->changed.wait_for(lock, std::chrono::duration<double>(timeout), ready);
        m_state->woken = false;
    }

    void wake() override {
        std::lock_guard lock(m_state->mutex);
        m_state->woken = true;
        m_state->changed.notify_all();
    }

    void drain(const std::function<void(const TapEvent&)>& deliver) override {
        std::deque<TapEvent> events;
        {
            std::lock_guard lock(m_state->mutex);
            events.swap(m_state->events);
        }
        for (const auto& event : events)
            deliver(event);
    }

    bool isKeyDown(std::int64_t keyCode) override {
        std::lock_guard lock(m_state->mutex);
        ++m_state->probes;
        m_state->changed.notify_all();
        return m_state->keysDown.contains(keyCode);
    }

    void enable() override {
        std::lock_guard lock(m_state->mutex);
        ++m_state->enables;
    }

private:
    std::shared_ptr<FakeKeyboard::State> m_state;
};

} // namespace

FakeKeyboard::FakeKeyboard() : m_state(std::make_shared<State>()) {}

std::unique_ptr<KeySource> FakeKeyboard::makeSource() {
    return std::make_unique<KeySourceFake>(m_state);
}

std::function<std::unique_ptr<KeySource>()> FakeKeyboard::factory() {
    return [state = m_state]() -> std::unique_ptr<KeySource> {
        return std::make_unique<KeySourceFake>(state);
    };
}

void FakeKeyboard::send(TapEvent event) {
    std::lock_guard lock(m_state->mutex);
    m_state->events.push_back(event);
    m_state->changed.notify_all();
}

void FakeKeyboard::setKeyDown(std::int64_t keyCode, bool down) {
    std::lock_guard lock(m_state->mutex);
    if (down)
        m_state->keysDown.insert(keyCode);
    else
        m_state->keysDown.erase(keyCode);
}

void FakeKeyboard::setOpenFailure(std::optional<KeySourceError> failure) {
    std::lock_guard lock(m_state->mutex);
    m_state->openFailure = failure;
}

void FakeKeyboard::holdOpen() {
    std::lock_guard lock(m_state->mutex);
    m_state->openHeld = true;
}

void FakeKeyboard::releaseOpen() {
    std::lock_guard lock(m_state->mutex);
    m_state->openHeld = false;
    m_state->changed.notify_all();
}

int FakeKeyboard::opens() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->opens;
}
int FakeKeyboard::closes() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->closes;
}
int FakeKeyboard::enables() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->enables;
}
int FakeKeyboard::waits() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->waits;
}
int FakeKeyboard::probes() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->probes;
}
int FakeKeyboard::pendingEvents() const {
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->events.size());
}
int FakeKeyboard::liveSources() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->liveSources;
}

bool FakeKeyboard::waitUntil(const std::function<bool()>& done, double seconds) const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               std::chrono::duration<double>(seconds));
    // The condition may read the keyboard itself, so it is checked outside the lock.
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::unique_lock lock(m_state->mutex);
        m_state->changed.wait_for(lock, std::chrono::milliseconds(2));
    }
    return true;
}

std::uint32_t FakeKeyboard::serverTime(double uptime) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::llround(uptime * 1000)) &
                                      0xffffffffu);
}

TapEvent FakeKeyboard::event(KeyEventKind kind, std::int64_t keyCode, std::uint64_t flags,
                             double uptime) {
    TapEvent event;
    event.kind = kind;
    event.keyCode = keyCode;
    event.flags = flags;
    event.serverTime = serverTime(uptime);
    return event;
}

} // namespace talverin::test
