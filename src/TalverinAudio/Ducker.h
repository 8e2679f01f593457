#pragma once

#include "Runtime/DefaultsStore.h"
#include "Runtime/SerialQueue.h"
#include "TalverinCore/Ducking.h"
#include "TalverinAudio/OutputVolume.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace talverin {

// Lowers the default output to a quarter while the user dictates and brings it back, in
// short fades, only when another process plays, never against a change the user made, and
// with a record in the defaults so that the next launch can restore a volume a crash left low.
class Ducker final : public Ducking {
public:
    // The lowered volume as a fraction of the volume before ducking.
    static constexpr float level = 0.25f;
    static constexpr double fadeDown = 0.12;
    static constexpr double fadeUp = 0.2;
    static constexpr double rampStep = 0.01;
    // Two volumes closer than this count as the same.
    static constexpr float tolerance = 0.02f;
    // The highest volume the sound server's own controls offer (+11 dB, about 153 %). No write
    // goes above it, so a corrupt record cannot blast the speakers.
    static constexpr float maxVolume = 99957.0f / 65536.0f;
    static constexpr const char* pendingKey = "TLDuckPending";
    // How long the recovery waits before it asks an unreachable sound server again.
    static constexpr double recoveryRetry = 2.0;

    // A volume as the ducker writes it: 0 up to the larger of 1 and the original, and never
    // above maxVolume.
    static float clampVolume(float volume, float original);

    struct Session {
        OutputVolume::DeviceId device = 0;
        std::optional<std::string> uid;
        float original = 0; // the volume before ducking, to be restored
        float written = 0;  // the volume the ducker last set and read back
        bool operator==(const Session&) const = default;
    };
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    // Lowered or being lowered.
    struct Ducked {
        Session session;
        bool operator==(const Ducked&) const = default;
    };
    // Being raised back.
    struct Restoring {
        Session session;
        bool operator==(const Restoring&) const = default;
    };
    using State = std::variant<Idle, Ducked, Restoring>;

    // Schedules the recovery of a record a previous run left, once, on the ducker's queue.
    // Without defaults no record is kept or read.
    Ducker(std::shared_ptr<OutputVolume> output, std::function<bool()> isPlaying,
           std::shared_ptr<DefaultsStore> defaults, double fadeDownDuration = fadeDown,
           double fadeUpDuration = fadeUp);
    ~Ducker() override;
    Ducker(const Ducker&) = delete;
    Ducker& operator=(const Ducker&) = delete;

    // Return at once; the work runs on the ducker's queue.
    void duck() override;
    void restore() override;
    // Waits on the ducker's queue; must not be called from it.
    void restoreImmediately() override;

    // The state as the queue sees it now (waits on the queue).
    State state();

private:
    void duckNow();
    enum class Restore { fade, atOnce };
    void restoreNow(Restore how);
    void startFade(std::vector<float> values);
    // Writes values[index]; `start` is the uptime the fade began at.
    void step(std::vector<float> values, std::size_t index, double start, std::uint64_t generation);
    // Asks again every recoveryRetry seconds until the record could be looked at.
    void recoverWhenReachable();
    // False when the sound server cannot be asked yet: the record then stays.
    bool recoverPending();
    // `target`: where the fade that is about to run ends, when one is.
    void savePending(const Session& session, float written,
                     std::optional<float> target = std::nullopt);
    void removePending();
    // Writes the volume, clamped, to the session's device; a failure is logged.
    void write(float volume, const Session& session);
    Session* session();

    std::shared_ptr<OutputVolume> m_output;
    std::function<bool()> m_isPlaying;
    std::shared_ptr<DefaultsStore> m_defaults;
    double m_fadeDownDuration;
    double m_fadeUpDuration;
    State m_state = Idle{};
    std::uint64_t m_generation = 0;
    // Whether a record of a previous run has been looked at. Until then no duck may write its
    // own record over it.
    bool m_recovered = false;
    // Last, so that it is destroyed first: its pending fade steps die with it and a running
    // step finishes while the fields it uses still exist.
    SerialQueue m_queue;
};

} // namespace talverin
