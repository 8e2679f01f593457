#include "fakes/AudioSystemFake.h"

#include <string>
#include <utility>

namespace talverin::test {

class AudioSystemFake::FakeEngine final : public AudioEngine {
public:
    FakeEngine(AudioSystemFake& system, std::shared_ptr<Engine> state)
        : m_system(system), m_state(std::move(state)) {}

    Result<void, AudioEngineError> selectDevice(const InputDevice& device) override {
        m_system.log.record("select", device.uid);
        std::lock_guard lock(m_system.m_mutex);
        std::int32_t status = 0;
        if (!m_system.m_selects.empty()) {
            status = m_system.m_selects.front();
            m_system.m_selects.pop_front();
        }
        if (status != 0)
            return fail(AudioEngineError{"fake", status});
        m_state->device = device;
        return {};
    }

    std::optional<AudioFormat> inputFormat() override {
        std::lock_guard lock(m_system.m_mutex);
        if (!m_state->device)
            return std::nullopt;
        auto it = m_system.m_shapes.find(m_state->device->id);
        if (it == m_system.m_shapes.end())
            return std::nullopt;
        return AudioFormat{it->second.rate, it->second.channels};
    }

    void installTap(std::uint32_t frames, AudioFormat format, Tap tap) override {
        std::lock_guard lock(m_system.m_mutex);
        m_state->tapFrames = frames;
        m_state->tapFormat = format;
        m_state->tap = std::move(tap);
    }

    void removeTap() override {
        std::lock_guard callbacks(m_system.m_callbacks);
        std::lock_guard lock(m_system.m_mutex);
        m_state->tap = nullptr;
    }

    void prepare() override {
        m_system.log.record("prepare");
        std::lock_guard lock(m_system.m_mutex);
        ++m_state->prepares;
    }

    Result<void, AudioEngineError> start() override {
        m_system.log.record("start");
        std::lock_guard lock(m_system.m_mutex);
        ++m_state->starts;
        if (m_system.m_stalled)
            return fail(AudioEngineError{"stalled", 8});
        if (!m_system.m_starts.empty()) {
            auto failure = m_system.m_starts.front();
            m_system.m_starts.pop_front();
            if (failure)
                return fail(*failure);
        }
        m_state->running = true;
        return {};
    }

    void pause() override {
        m_system.log.record("pause");
        std::function<void()> onPause;
        {
            std::lock_guard lock(m_system.m_mutex);
            ++m_state->pauses;
            m_state->running = false;
            onPause = m_system.m_onPause;
        }
        if (onPause)
            onPause();
    }

    void stop() override {
        m_system.log.record("stop");
        std::lock_guard lock(m_system.m_mutex);
        m_state->running = false;
        m_state->stopped = true;
    }

    bool isRunning() const override {
        std::lock_guard lock(m_system.m_mutex);
        return m_state->running;
    }

    void setOnConfigurationChange(std::function<void()> onChange) override {
        std::lock_guard callbacks(m_system.m_callbacks);
        std::lock_guard lock(m_system.m_mutex);
        m_state->onConfigurationChange = std::move(onChange);
    }

private:
    AudioSystemFake& m_system;
    std::shared_ptr<Engine> m_state;
};

AudioSystemFake::AudioSystemFake() = default;
AudioSystemFake::~AudioSystemFake() = default;

Result<std::vector<InputDevice>, CoreAudioError> AudioSystemFake::inputDevices() {
    log.record("inputDevices");
    std::lock_guard lock(m_mutex);
    if (m_stalled)
        return fail(CoreAudioError{"stalled", 8});
    if (m_listError)
        return fail(*m_listError);
    return m_devices;
}

Result<std::optional<std::uint32_t>, CoreAudioError> AudioSystemFake::defaultInputID() {
    std::lock_guard lock(m_mutex);
    if (m_stalled)
        return fail(CoreAudioError{"stalled", 8});
    return m_default;
}

InputShape AudioSystemFake::inputShape(std::uint32_t id) {
    std::lock_guard lock(m_mutex);
    auto it = m_shapes.find(id);
    return it == m_shapes.end() ? InputShape{} : it->second;
}

Result<AudioSystem::ListenerID, CoreAudioError>
AudioSystemFake::addListener(Property property, std::function<void()> onChange) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_listenerFailures.find(property); it != m_listenerFailures.end())
        return fail(CoreAudioError{"listener", it->second});
    ListenerID id = m_nextListener++;
    m_listeners.emplace(id, std::make_pair(property, std::move(onChange)));
    return id;
}

void AudioSystemFake::removeListener(ListenerID id) {
    std::lock_guard callbacks(m_callbacks);
    std::lock_guard lock(m_mutex);
    m_listeners.erase(id);
}

std::unique_ptr<AudioEngine> AudioSystemFake::makeEngine() {
    log.record("makeEngine");
    std::lock_guard lock(m_mutex);
    if (m_makeEngineFails)
        return nullptr;
    auto state = std::make_shared<Engine>();
    m_engines.push_back(state);
    return std::make_unique<FakeEngine>(*this, state);
}

void AudioSystemFake::setDevices(std::vector<InputDevice> devices) {
    std::lock_guard lock(m_mutex);
    m_devices = std::move(devices);
}

void AudioSystemFake::setDefaultInput(std::optional<std::uint32_t> id) {
    std::lock_guard lock(m_mutex);
    m_default = id;
}

void AudioSystemFake::setShape(std::uint32_t id, InputShape shape) {
    std::lock_guard lock(m_mutex);
    m_shapes[id] = shape;
}

bool AudioSystemFake::isInputMuted(std::uint32_t id) {
    log.record("muted", std::to_string(id));
    std::lock_guard lock(m_mutex);
    return m_muted.contains(id);
}

bool AudioSystemFake::isHeldByOtherProcess(std::uint32_t id) {
    log.record("held", std::to_string(id));
    std::lock_guard lock(m_mutex);
    return m_held.contains(id);
}

void AudioSystemFake::setMuted(std::uint32_t id, bool muted) {
    std::lock_guard lock(m_mutex);
    if (muted)
        m_muted.insert(id);
    else
        m_muted.erase(id);
}

void AudioSystemFake::setHeldByOther(std::uint32_t id, bool held) {
    std::lock_guard lock(m_mutex);
    if (held)
        m_held.insert(id);
    else
        m_held.erase(id);
}

void AudioSystemFake::setListError(std::optional<CoreAudioError> error) {
    std::lock_guard lock(m_mutex);
    m_listError = std::move(error);
}

void AudioSystemFake::scriptSelect(std::int32_t status) {
    std::lock_guard lock(m_mutex);
    m_selects.push_back(status);
}

void AudioSystemFake::scriptStart(std::optional<AudioEngineError> failure) {
    std::lock_guard lock(m_mutex);
    m_starts.push_back(std::move(failure));
}

void AudioSystemFake::scriptListener(Property property, std::int32_t status) {
    std::lock_guard lock(m_mutex);
    m_listenerFailures[property] = status;
}

void AudioSystemFake::limitWaits(std::optional<double> deadline) {
    std::lock_guard lock(m_mutex);
    m_waitDeadline = deadline;
}

bool AudioSystemFake::waitRanOut() {
    std::lock_guard lock(m_mutex);
    return m_stalled;
}

void AudioSystemFake::setStalled(bool stalled) {
    std::lock_guard lock(m_mutex);
    m_stalled = stalled;
}

std::optional<double> AudioSystemFake::waitDeadline() const {
    std::lock_guard lock(m_mutex);
    return m_waitDeadline;
}

void AudioSystemFake::setOnPause(std::function<void()> onPause) {
    std::lock_guard lock(m_mutex);
    m_onPause = std::move(onPause);
}

void AudioSystemFake::setMakeEngineFails(bool fails) {
    std::lock_guard lock(m_mutex);
    m_makeEngineFails = fails;
}

void AudioSystemFake::announce(Property property) {
    std::lock_guard calling(m_callbacks);
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [id, entry] : m_listeners)
            if (entry.first == property)
                callbacks.push_back(entry.second);
    }
    for (auto& callback : callbacks)
        callback();
}

std::size_t AudioSystemFake::listenerCount() const {
    std::lock_guard lock(m_mutex);
    return m_listeners.size();
}

std::size_t AudioSystemFake::enginesMade() const {
    std::lock_guard lock(m_mutex);
    return m_engines.size();
}

AudioSystemFake::Engine AudioSystemFake::engine(std::size_t index) const {
    std::lock_guard lock(m_mutex);
    return index < m_engines.size() ? *m_engines[index] : Engine{};
}

AudioSystemFake::Engine AudioSystemFake::latestEngine() const {
    std::lock_guard lock(m_mutex);
    return m_engines.empty() ? Engine{} : *m_engines.back();
}

bool AudioSystemFake::deliver(AudioBlock block, std::optional<double> time) {
    std::lock_guard calling(m_callbacks);
    AudioEngine::Tap tap;
    {
        std::lock_guard lock(m_mutex);
        if (m_engines.empty() || !m_engines.back()->running || !m_engines.back()->tap)
            return false;
        tap = m_engines.back()->tap;
    }
    tap(std::move(block), time);
    return true;
}

void AudioSystemFake::changeConfiguration() {
    std::size_t count = enginesMade();
    if (count > 0)
        changeConfiguration(count - 1);
}

void AudioSystemFake::changeConfiguration(std::size_t index) {
    std::lock_guard calling(m_callbacks);
    std::function<void()> callback;
    {
        std::lock_guard lock(m_mutex);
        if (index < m_engines.size())
            callback = m_engines[index]->onConfigurationChange;
    }
    if (callback)
        callback();
}

} // namespace talverin::test
