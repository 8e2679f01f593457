#include "TalverinAudio/linux/AudioEnginePulse.h"

#include "Runtime/MainQueue.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace talverin {

namespace {

using Event = PulseConnection::Event;
using Lock = PulseConnection::Lock;

struct SourceReply : PulseConnection::Call {
    using Call::Call;
    std::optional<pa_source_info> info; // its pointers are not kept
    std::string name;
};

void readSource(pa_context* context, const pa_source_info* info, int eol, void* userdata) {
    auto* reply = static_cast<SourceReply*>(userdata);
    if (reply->finishesAt(context, eol, info))
        return;
    reply->info = *info;
    reply->name = info->name ? info->name : "";
}

void corked(pa_stream* stream, int success, void* userdata) {
    auto* call = static_cast<PulseConnection::Call*>(userdata);
    int error = success ? 0 : pa_context_errno(pa_stream_get_context(stream));
    call->finish(success || error ? error : PA_ERR_UNKNOWN);
}

AudioEngineError engineError(int status) {
    using Kind = AudioEngineError::Kind;
    Kind kind = Kind::failed;
    switch (PulseConnection::kindOf(status)) {
    case CoreAudioError::Kind::noDevice:
        kind = Kind::noDevice;
        break;
    case CoreAudioError::Kind::timedOut:
        kind = Kind::timedOut;
        break;
    case CoreAudioError::Kind::unavailable:
        kind = Kind::unavailable;
        break;
    case CoreAudioError::Kind::failed:
        break;
    }
    return AudioEngineError{AudioEnginePulse::errorDomain, status, kind, pa_strerror(status)};
}

} // namespace

struct AudioEnginePulse::Callbacks {
    static void state(pa_stream* stream, void* userdata) {
        auto* self = static_cast<AudioEnginePulse*>(userdata);
        if (stream != self->m_stream.get())
            return;
        self->m_connection->signal();
        auto state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            self->m_running = false;
            self->reportChange();
        }
    }

    static void moved(pa_stream* stream, void* userdata) {
        auto* self = static_cast<AudioEnginePulse*>(userdata);
        if (stream == self->m_stream.get())
            self->reportChange();
    }

    static void read(pa_stream* stream, std::size_t /*bytes*/, void* userdata) {
        auto* self = static_cast<AudioEnginePulse*>(userdata);
        if (stream == self->m_stream.get())
            self->onRead(stream);
    }

    static void source(pa_context* /*context*/, const pa_source_info* info, int eol,
                       void* userdata) {
        auto* self = static_cast<AudioEnginePulse*>(userdata);
        if (eol == 0 && info) {
            self->onSourceInfo(info);
            return;
        }
        self->m_sourceQuery.reset();
    }
};

AudioEnginePulse::AudioEnginePulse(std::shared_ptr<PulseConnection> connection)
    : m_connection(std::move(connection)) {
    m_observer = m_connection->addObserver([this](const Event& event) { onEvent(event); });
}

AudioEnginePulse::~AudioEnginePulse() {
    m_connection->removeObserver(m_observer);
    Lock lock(*m_connection);
    if (m_sourceQuery) {
        pa_operation_cancel(m_sourceQuery.get());
        m_sourceQuery.reset();
    }
    destroyStream();
}

Result<void, AudioEngineError> AudioEnginePulse::selectDevice(const InputDevice& device) {
    SourceReply reply(*m_connection);
    int status = m_connection->perform(reply, [&](pa_context* context) {
        return pa_context_get_source_info_by_index(context, device.id, readSource, &reply);
    });
    // The index of a source that was removed may not name another one, but check anyway.
    if (status == 0 && (!reply.info || reply.name != device.uid))
        status = PA_ERR_NOENTITY;
    if (status != 0)
        return fail(engineError(status));
    Lock lock(*m_connection);
    m_source =
        Source{reply.info->index, reply.name, reply.info->sample_spec, reply.info->channel_map};
    return {};
}

std::optional<AudioFormat> AudioEnginePulse::inputFormat() {
    Lock lock(*m_connection);
    if (!m_source || !pa_sample_spec_valid(&m_source->sampleFormat))
        return std::nullopt;
    return AudioFormat{static_cast<double>(m_source->sampleFormat.rate),
                       static_cast<int>(m_source->sampleFormat.channels)};
}

void AudioEnginePulse::installTap(std::uint32_t frames, AudioFormat format, Tap tap) {
    Lock lock(*m_connection);
    m_tapFrames = frames;
    m_tapFormat = format;
    m_tap = std::move(tap);
}

void AudioEnginePulse::removeTap() {
    Lock lock(*m_connection);
    m_tap = nullptr;
}

void AudioEnginePulse::prepare() {
    pa_stream* stream = nullptr;
    {
        Lock lock(*m_connection);
        if (m_stream && pa_stream_get_state(m_stream.get()) == PA_STREAM_READY && !m_reported)
            return;
        destroyStream();
        pa_context* context = m_connection->readyContext();
        if (!context || !m_source || m_tapFormat.channels <= 0 || !(m_tapFormat.sampleRate > 0))
            return;

        pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE,
                                    static_cast<std::uint32_t>(m_tapFormat.sampleRate),
                                    static_cast<std::uint8_t>(m_tapFormat.channels)};
        pa_channel_map map = m_source->map;
        if (map.channels != sampleFormat.channels)
            pa_channel_map_init_auto(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);
        stream = pa_stream_new(context, "Dictation", &sampleFormat, &map);
        if (!stream)
            return;
        pa_stream_set_state_callback(stream, Callbacks::state, this);
        pa_stream_set_read_callback(stream, Callbacks::read, this);
        pa_stream_set_moved_callback(stream, Callbacks::moved, this);
        // Fragments of the tap's size: with the server's default buffering, blocks arrive
        // seconds apart. The stream stays on its source: when the source goes, the stream
        // fails and that is a configuration change, instead of the server moving it to
        // another source (the speakers' monitor, say) behind our back.
        pa_buffer_attr attr;
        std::memset(&attr, 0xff, sizeof attr);
        attr.fragsize = static_cast<std::uint32_t>(m_tapFrames * pa_frame_size(&sampleFormat));
        auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_DONT_MOVE);
        m_stream.reset(stream);
        m_reported = false;
        m_running = false;
        if (pa_stream_connect_record(stream, m_source->name.c_str(), &attr, flags) < 0) {
            // The stream stays failed; start() reports it.
            return;
        }
    }
    bool settled = m_connection->waitUntil(
        [&] {
            return m_stream.get() != stream || pa_stream_get_state(stream) != PA_STREAM_CREATING;
        },
        PulseConnection::deadlineIn(PulseConnection::waitLimit));
    if (!settled)
        m_connection->noteStall();
}

int AudioEnginePulse::cork(Flow flow) {
    pa_stream* stream = nullptr;
    {
        Lock lock(*m_connection);
        if (!m_stream || pa_stream_get_state(m_stream.get()) != PA_STREAM_READY)
            return streamError();
        stream = m_stream.get();
    }
    PulseConnection::Call call(*m_connection);
    return m_connection->perform(call, [&](pa_context*) {
        return pa_stream_cork(stream, flow == Flow::held ? 1 : 0, corked, &call);
    });
}

void AudioEnginePulse::refreshTiming() {
    pa_stream* stream = nullptr;
    {
        Lock lock(*m_connection);
        if (!m_stream || pa_stream_get_state(m_stream.get()) != PA_STREAM_READY)
            return;
        stream = m_stream.get();
    }
    PulseConnection::Call call(*m_connection);
    m_connection->perform(
        call, [&](pa_context*) { return pa_stream_update_timing_info(stream, corked, &call); });
}

Result<void, AudioEngineError> AudioEnginePulse::start() {
    {
        Lock lock(*m_connection);
        if (m_running && m_stream && pa_stream_get_state(m_stream.get()) == PA_STREAM_READY)
            return {};
    }
    {
        // Blocks arrive as soon as the stream is uncorked, before the server's fresh timing
        // does: they must not follow on from where the previous run stopped, which would date
        // them back to the last pause and drop them as audio of no capture.
        Lock lock(*m_connection);
        m_nextTime.reset();
        // Nor may the part of a block gathered before the pause.
        dropGathered();
    }
    if (int status = cork(Flow::running); status != 0)
        return fail(engineError(status));
    refreshTiming();
    Lock lock(*m_connection);
    m_running = true;
    // The run's sample count starts again from the fresh timing.
    m_nextTime.reset();
    return {};
}

void AudioEnginePulse::pause() {
    cork(Flow::held);
    Lock lock(*m_connection);
    m_running = false;
}

void AudioEnginePulse::stop() {
    Lock lock(*m_connection);
    destroyStream();
}

bool AudioEnginePulse::isRunning() const {
    Lock lock(*m_connection);
    return m_running && m_stream && pa_stream_get_state(m_stream.get()) == PA_STREAM_READY;
}

void AudioEnginePulse::setOnConfigurationChange(std::function<void()> onChange) {
    Lock lock(*m_connection);
    m_onConfigurationChange = std::move(onChange);
}

void AudioEnginePulse::destroyStream() {
    m_running = false;
    dropGathered();
    if (!m_stream)
        return;
    m_stream.reset();
    m_connection->signal();
}

void AudioEnginePulse::reportChange() {
    if (m_reported)
        return;
    m_reported = true;
    if (m_onConfigurationChange)
        m_onConfigurationChange();
}

int AudioEnginePulse::streamError() const {
    int error = 0;
    if (m_stream)
        error = pa_context_errno(pa_stream_get_context(m_stream.get()));
    else
        error = m_connection->lastError();
    return error != 0 ? error : PA_ERR_BADSTATE;
}

void AudioEnginePulse::onEvent(const Event& event) {
    if (!m_source || !m_stream || m_reported || event.index != m_source->index)
        return;
    if (event.kind == Event::Kind::sourceRemoved) {
        reportChange();
    } else if (event.kind == Event::Kind::sourceChanged) {
        // Most changes are volume, suspension or streams coming and going: only a different
        // rate or channel count counts, so look at the source again.
        if (m_sourceQuery) {
            if (pa_operation_get_state(m_sourceQuery.get()) == PA_OPERATION_RUNNING)
                return;
            m_sourceQuery.reset();
        }
        if (pa_context* context = m_connection->readyContext())
            m_sourceQuery.reset(pa_context_get_source_info_by_index(context, m_source->index,
                                                                    Callbacks::source, this));
    }
}

void AudioEnginePulse::onSourceInfo(const pa_source_info* info) {
    if (!m_source || info->index != m_source->index)
        return;
    if (info->sample_spec.rate != m_source->sampleFormat.rate ||
        info->sample_spec.channels != m_source->sampleFormat.channels)
        reportChange();
}

std::optional<double> AudioEnginePulse::latencyTime(pa_stream* stream) const {
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) != 0 || negative)
        return std::nullopt;
    double seconds = static_cast<double>(latency) / PA_USEC_PER_SEC;
    // Between timing updates the latency is interpolated, and it has been seen to come out
    // absurd: such a value is no timing at all.
    if (seconds > maxLatency)
        return std::nullopt;
    return Clock::uptime() - seconds;
}

void AudioEnginePulse::onRead(pa_stream* stream) {
    const AudioFormat format = m_tapFormat;
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(format.channels);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        const double duration =
            static_cast<double>(bytes / frameBytes) / static_cast<double>(format.sampleRate);
        if (!data) {
            // A hole in the recording: nothing to copy, but the time goes on. What was
            // gathered before it goes out as it is, dated by its own start.
            pa_stream_drop(stream);
            deliverGathered(m_gathered.size());
            if (m_nextTime)
                *m_nextTime += duration;
            continue;
        }
        // The first sample of what is buffered was captured one stream latency ago. The
        // latency wanders by tens of milliseconds between the server's timing updates while
        // the sample clock does not, so after the first fragment of a run the fragments follow
        // on by their length, unless the latency says that the stream has jumped.
        std::optional<double> measured = latencyTime(stream);
        std::optional<double> time = m_nextTime ? m_nextTime : measured;
        if (measured && time && std::abs(*measured - *time) > maxDrift)
            time = measured;
        m_nextTime = time ? std::optional<double>(*time + duration) : std::nullopt;

        if (m_gathered.empty())
            m_gatheredTime = time;
        const auto* first = static_cast<const float*>(data);
        m_gathered.insert(m_gathered.end(), first, first + bytes / frameBytes * format.channels);
        pa_stream_drop(stream);
        // The server hands over fragments of any size; the tap gets blocks of its own.
        const std::size_t blockSamples =
            std::max<std::size_t>(m_tapFrames, 1) * static_cast<std::size_t>(format.channels);
        while (m_gathered.size() >= blockSamples)
            deliverGathered(blockSamples);
    }
}

void AudioEnginePulse::deliverGathered(std::size_t samples) {
    if (samples == 0)
        return;
    const AudioFormat format = m_tapFormat;
    std::vector<float> block(m_gathered.begin(),
                             m_gathered.begin() + static_cast<std::ptrdiff_t>(samples));
    m_gathered.erase(m_gathered.begin(), m_gathered.begin() + static_cast<std::ptrdiff_t>(samples));
    std::optional<double> time = m_gatheredTime;
    if (m_gatheredTime) {
        const auto frames =
            static_cast<double>(samples / static_cast<std::size_t>(format.channels));
        *m_gatheredTime += frames / format.sampleRate;
    }
    if (m_tap)
        m_tap(AudioBlock(format, std::move(block)), time);
}

void AudioEnginePulse::dropGathered() {
    m_gathered.clear();
    m_gatheredTime.reset();
}

} // namespace talverin
