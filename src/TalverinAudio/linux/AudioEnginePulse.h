#pragma once

#include "TalverinAudio/AudioEngine.h"
#include "TalverinAudio/linux/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// One recording stream on one PulseAudio source, in 32-bit float at the source's own rate and
// channels, in blocks of the tap's size gathered from the server's fragments (which may be of
// any size).
// Prepared = connected and corked; start and pause uncork and cork it. Every block goes to the
// tap on the mainloop's thread, dated by the stream's latency: the first block after a start
// by the latency itself (fresh from the server), the later ones by their sample count from
// there, as long as the two agree.
//
// A configuration change is reported once per stream: when the source's sample format stops
// matching what was selected, when the source is removed, or when the stream is moved or
// fails (the server going away included). A source's plain "change" events, which come with
// every stream that opens or closes on it, with suspension and with volume changes, are not
// changes of the configuration.
class AudioEnginePulse final : public AudioEngine {
public:
    // The error domain of start failures; the code is a libpulse error code.
    static constexpr const char* errorDomain = "pulse";
    // A latency above this is not believed.
    static constexpr double maxLatency = 2.0;
    // Block times follow the sample count until the latency disagrees by more than this.
    static constexpr double maxDrift = 0.05;

    explicit AudioEnginePulse(std::shared_ptr<PulseConnection> connection);
    ~AudioEnginePulse() override;
    AudioEnginePulse(const AudioEnginePulse&) = delete;
    AudioEnginePulse& operator=(const AudioEnginePulse&) = delete;

    Result<void, AudioEngineError> selectDevice(const InputDevice& device) override;
    std::optional<AudioFormat> inputFormat() override;
    void installTap(std::uint32_t frames, AudioFormat format, Tap tap) override;
    void removeTap() override;
    void prepare() override;
    Result<void, AudioEngineError> start() override;
    void pause() override;
    void stop() override;
    bool isRunning() const override;
    void setOnConfigurationChange(std::function<void()> onChange) override;

private:
    struct Source {
        std::uint32_t index;
        std::string name;
        pa_sample_spec sampleFormat;
        pa_channel_map map;
    };
    struct Callbacks;
    friend struct Callbacks;

    // With the lock held.
    void destroyStream();
    void reportChange();
    int streamError() const;
    void onEvent(const PulseConnection::Event& event);
    void onRead(pa_stream* stream);
    // Hands the first `samples` gathered samples to the tap as one block.
    void deliverGathered(std::size_t samples);
    void dropGathered();
    // The uptime of the first buffered sample by the stream's latency; none without timing.
    std::optional<double> latencyTime(pa_stream* stream) const;
    void onSourceInfo(const pa_source_info* info);
    // Uncorks or corks the stream and waits for the server's answer; 0 or an error code.
    enum class Flow { running, held };
    int cork(Flow flow);
    // Asks the server for the stream's timing afresh and waits for it.
    void refreshTiming();

    const std::shared_ptr<PulseConnection> m_connection;
    PulseConnection::ObserverID m_observer = 0;

    // Under the mainloop lock.
    std::optional<Source> m_source;
    AudioFormat m_tapFormat;
    std::uint32_t m_tapFrames = 0;
    Tap m_tap;
    PulseStream m_stream;
    bool m_running = false;
    bool m_reported = false;
    std::optional<double> m_nextTime;     // where the next fragment starts, within one run
    std::vector<float> m_gathered;        // fragments not yet a whole block
    std::optional<double> m_gatheredTime; // when the first gathered sample was captured
    PulseOperation m_sourceQuery;
    std::function<void()> m_onConfigurationChange;
};

} // namespace talverin
