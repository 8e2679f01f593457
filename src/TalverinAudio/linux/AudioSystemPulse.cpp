#include "TalverinAudio/linux/AudioSystemPulse.h"

#include "Runtime/MainQueue.h"
#include "TalverinAudio/linux/AudioEnginePulse.h"
#include "TalverinAudio/linux/InputMutePulse.h"

#include <pulse/pulseaudio.h>

#include <cstring>
#include <utility>

namespace talverin {

namespace {

using Event = PulseConnection::Event;

// One reply to a source list or source query, filled by the callback.
struct SourceReply : PulseConnection::Call {
    using Call::Call;
    std::vector<InputDevice> devices;
    std::optional<InputShape> shape;
    std::optional<std::uint32_t> index;
};

void collectSource(pa_context* context, const pa_source_info* info, int eol, void* userdata) {
    auto* reply = static_cast<SourceReply*>(userdata);
    if (reply->finishesAt(context, eol, info))
        return;
    // Monitors of sinks record what is played, not a microphone.
    if (info->monitor_of_sink != PA_INVALID_INDEX || !info->name || !*info->name)
        return;
    const char* description = info->description;
    InputDevice device;
    device.id = info->index;
    device.uid = info->name;
    device.name = description && *description ? description : info->name;
    device.transport = AudioSystemPulse::transportFor(
        pa_proplist_gets(info->proplist, PA_PROP_DEVICE_BUS),
        pa_proplist_gets(info->proplist, PA_PROP_DEVICE_FORM_FACTOR));
    reply->devices.push_back(std::move(device));
}

void readSource(pa_context* context, const pa_source_info* info, int eol, void* userdata) {
    auto* reply = static_cast<SourceReply*>(userdata);
    if (reply->finishesAt(context, eol, info))
        return;
    reply->index = info->index;
    reply->shape = InputShape{static_cast<double>(info->sample_spec.rate),
                              static_cast<int>(info->sample_spec.channels)};
}

struct ServerReply : PulseConnection::Call {
    using Call::Call;
    std::optional<std::string> defaultSource;
};

void readServer(pa_context* /*context*/, const pa_server_info* info, void* userdata) {
    auto* reply = static_cast<ServerReply*>(userdata);
    if (info && info->default_source_name && *info->default_source_name)
        reply->defaultSource = info->default_source_name;
    reply->finish();
}

} // namespace

AudioSystemPulse::AudioSystemPulse(std::shared_ptr<PulseConnection> connection)
    : m_connection(std::move(connection)) {}

AudioSystemPulse::~AudioSystemPulse() {
    std::lock_guard lock(m_mutex);
    for (const auto& [id, observer] : m_listeners)
        m_connection->removeObserver(observer);
}

bool AudioSystemPulse::isInputMuted(std::uint32_t id) {
    return InputMutePulse::isMuted(*m_connection, id);
}

bool AudioSystemPulse::isHeldByOtherProcess(std::uint32_t id) {
    return InputMutePulse::isHoggedByOther(id);
}

InputDevice::Transport AudioSystemPulse::transportFor(const char* bus, const char* formFactor) {
    using T = InputDevice::Transport;
    auto is = [](const char* value, const char* expected) {
        return value && std::strcmp(value, expected) == 0;
    };
    if (is(bus, "usb"))
        return T::usb;
    if (is(bus, "bluetooth"))
        return T::bluetooth;
    if (is(bus, "pci") || is(formFactor, "internal"))
        return T::builtIn;
    // Null and remapped sources have no bus: they are the server's own.
    if (!bus || !*bus)
        return T::virtual_;
    return T::other;
}

Result<std::vector<InputDevice>, CoreAudioError> AudioSystemPulse::inputDevices() {
    SourceReply reply(*m_connection);
    int status = m_connection->perform(reply, [&](pa_context* context) {
        return pa_context_get_source_info_list(context, collectSource, &reply);
    });
    if (status != 0)
        return fail(PulseConnection::audioError("AudioObjectGetPropertyData(dev#)", status));
    return std::move(reply.devices);
}

Result<std::optional<std::uint32_t>, CoreAudioError> AudioSystemPulse::defaultInputID() {
    ServerReply server(*m_connection);
    int status = m_connection->perform(server, [&](pa_context* context) {
        return pa_context_get_server_info(context, readServer, &server);
    });
    if (status != 0)
        return fail(PulseConnection::audioError("AudioObjectGetPropertyData(dIn )", status));
    if (!server.defaultSource)
        return std::optional<std::uint32_t>();
    SourceReply source(*m_connection);
    status = m_connection->perform(source, [&](pa_context* context) {
        return pa_context_get_source_info_by_name(context, server.defaultSource->c_str(),
                                                  readSource, &source);
    });
    // A default that is gone by now is no default.
    if (status == PA_ERR_NOENTITY)
        return std::optional<std::uint32_t>();
    if (status != 0)
        return fail(PulseConnection::audioError("AudioObjectGetPropertyData(dIn )", status));
    return source.index;
}

InputShape AudioSystemPulse::inputShape(std::uint32_t id) {
    SourceReply reply(*m_connection);
    int status = m_connection->perform(reply, [&](pa_context* context) {
        return pa_context_get_source_info_by_index(context, id, readSource, &reply);
    });
    if (status != 0 || !reply.shape)
        return {};
    return *reply.shape;
}

Result<AudioSystem::ListenerID, CoreAudioError>
AudioSystemPulse::addListener(Property property, std::function<void()> onChange) {
    // Losing the server empties the device list; its return fills it again.
    auto observer =
        m_connection->addObserver([property, onChange = std::move(onChange)](const Event& event) {
            bool relevant =
                event.kind == Event::Kind::connected || event.kind == Event::Kind::disconnected;
            if (property == Property::defaultInput)
                relevant = relevant || event.kind == Event::Kind::defaultSourceChanged;
            else
                relevant = relevant || event.kind == Event::Kind::sourceAdded ||
                           event.kind == Event::Kind::sourceRemoved;
            if (relevant)
                onChange();
        });
    std::lock_guard lock(m_mutex);
    ListenerID id = m_nextListener++;
    m_listeners.emplace(id, observer);
    return id;
}

void AudioSystemPulse::removeListener(ListenerID id) {
    PulseConnection::ObserverID observer = 0;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_listeners.find(id);
        if (it == m_listeners.end())
            return;
        observer = it->second;
        m_listeners.erase(it);
    }
    m_connection->removeObserver(observer);
}

std::unique_ptr<AudioEngine> AudioSystemPulse::makeEngine() {
    return std::make_unique<AudioEnginePulse>(m_connection);
}

void AudioSystemPulse::limitWaits(std::optional<double> deadline) {
    if (!deadline) {
        PulseConnection::setThreadDeadline(std::nullopt);
        return;
    }
    // Our uptime and the steady clock are both the kernel's monotonic clock.
    PulseConnection::setThreadDeadline(PulseConnection::deadlineIn(*deadline - Clock::uptime()));
}

bool AudioSystemPulse::waitRanOut() {
    return PulseConnection::threadRanOut();
}

} // namespace talverin
