#include "TalverinAudio/linux/SoundPlayerPulse.h"

#include "TalverinAudio/WavFile.h"

#include <pulse/pulseaudio.h>

#include <vector>

namespace talverin {

namespace {

// One loaded sound. Each play makes a new stream; the previous one is ended first. Every
// field below the connection is touched only with the mainloop lock held.
class PulseSound final : public PlayerSound {
public:
    PulseSound(std::shared_ptr<PulseConnection> connection, WavFile wav, std::string name)
        : m_connection(std::move(connection)), m_wav(std::move(wav)), m_name(std::move(name)) {}

    ~PulseSound() override {
        PulseConnection::Lock lock(*m_connection);
        release();
    }

    bool isPlaying() const override {
        PulseConnection::Lock lock(*m_connection);
        return m_stream && m_playing;
    }

    void stop() override {
        PulseConnection::Lock lock(*m_connection);
        release();
    }

    void play(float volume) override {
        PulseConnection::Lock lock(*m_connection);
        release();
        pa_context* context = m_connection->readyContext();
        if (!context)
            return; // a tick that cannot start is skipped
        m_scaled.resize(m_wav.samples.size());
        for (std::size_t i = 0; i < m_scaled.size(); ++i)
            m_scaled[i] = m_wav.samples[i] * volume;

        pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE, m_wav.sampleRate,
                                    static_cast<std::uint8_t>(m_wav.channels)};
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "event");
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, m_name.c_str());
        m_stream.reset(pa_stream_new_with_proplist(context, m_name.c_str(), &sampleFormat,
                                                   nullptr, properties));
        pa_proplist_free(properties);
        if (!m_stream)
            return;
        pa_stream_set_state_callback(m_stream.get(), onState, this);
        if (pa_stream_connect_playback(m_stream.get(), nullptr, nullptr, PA_STREAM_NOFLAGS,
                                       nullptr, nullptr) < 0) {
            release();
            return;
        }
        m_playing = true;
    }

private:
    static void onState(pa_stream* stream, void* userdata) {
        auto* self = static_cast<PulseSound*>(userdata);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY: {
            // The whole tick goes to the server at once; it is a few kilobytes.
            pa_stream_write(stream, self->m_scaled.data(), self->m_scaled.size() * sizeof(float),
                            nullptr, 0, PA_SEEK_RELATIVE);
            self->m_drain.reset(pa_stream_drain(stream, onDrained, self));
            break;
        }
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            self->m_playing = false;
            break;
        default:
            break;
        }
    }

    static void onDrained(pa_stream* stream, int /*success*/, void* userdata) {
        auto* self = static_cast<PulseSound*>(userdata);
        if (stream != self->m_stream.get())
            return;
        self->m_drain.reset();
        self->m_playing = false;
        // The stream leaves the sink now; it is released at the next play or stop.
        pa_stream_disconnect(stream);
    }

    // With the lock held.
    void release() {
        m_playing = false;
        // A pending drain would call back into a sound that may be gone.
        if (m_drain)
            pa_operation_cancel(m_drain.get());
        m_drain.reset();
        // Detaches the callbacks, disconnects and drops the stream.
        m_stream.reset();
    }

    std::shared_ptr<PulseConnection> m_connection;
    const WavFile m_wav;
    const std::string m_name;
    std::vector<float> m_scaled;
    PulseStream m_stream;
    PulseOperation m_drain;
    bool m_playing = false;
};

} // namespace

SoundPlayerPulse::SoundPlayerPulse(std::shared_ptr<PulseConnection> connection)
    : m_connection(std::move(connection)) {}

std::unique_ptr<PlayerSound> SoundPlayerPulse::load(const std::filesystem::path& file) {
    auto wav = WavFile::read(file);
    if (!wav || wav.value().samples.empty())
        return nullptr;
    return std::make_unique<PulseSound>(m_connection, std::move(wav.value()),
                                        "Talverin " + file.stem().string());
}

} // namespace talverin
