#include "TalverinAudio/Ducker.h"

#include "Runtime/MainQueue.h"
#include "TalverinAudio/Ramp.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace talverin {

namespace {

bool differs(float a, float b) {
    return std::fabs(a - b) > Ducker::tolerance;
}

std::string formatVolume(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
    return text;
}

// Whether the device's volume is one the ducker left: the volume it last recorded, or, when the
// record names a fade in progress, any volume on that fade's way from there to its target.
// Records of older runs name the value of the step in flight as "writing".
bool isOurs(float volume, const nlohmann::json& record) {
    const float written = record["written"].get<float>();
    if (!differs(volume, written))
        return true;
    for (const char* key : {"target", "writing"}) {
        auto to = record.find(key);
        if (to == record.end() || !to->is_number())
            continue;
        const float target = to->get<float>();
        return volume >= std::min(written, target) - Ducker::tolerance &&
               volume <= std::max(written, target) + Ducker::tolerance;
    }
    return false;
}

} // namespace

float Ducker::clampVolume(float volume, float original) {
    // Servers allow volumes above 1: an original above it is given back as it was, but never
    // above the server's own maximum.
    float ceiling = std::min(std::max(1.0f, original), maxVolume);
    if (!(volume >= 0))
        return 0;
    return std::min(volume, ceiling);
}

Ducker::Ducker(std::shared_ptr<OutputVolume> output, std::function<bool()> isPlaying,
               std::shared_ptr<DefaultsStore> defaults, double fadeDownDuration,
               double fadeUpDuration)
    : m_output(std::move(output)), m_isPlaying(std::move(isPlaying)),
      m_defaults(std::move(defaults)), m_fadeDownDuration(fadeDownDuration),
      m_fadeUpDuration(fadeUpDuration), m_queue("ducker") {
    m_queue.async([this] { recoverWhenReachable(); });
}

Ducker::~Ducker() = default;

void Ducker::duck() {
    m_queue.async([this] { duckNow(); });
}

void Ducker::restore() {
    m_queue.async([this] { restoreNow(Restore::fade); });
}

void Ducker::restoreImmediately() {
    m_queue.sync([this] { restoreNow(Restore::atOnce); });
}

Ducker::State Ducker::state() {
    return m_queue.syncValue([this] { return m_state; });
}

Ducker::Session* Ducker::session() {
    if (auto* ducked = std::get_if<Ducked>(&m_state))
        return &ducked->session;
    if (auto* restoring = std::get_if<Restoring>(&m_state))
        return &restoring->session;
    return nullptr;
}

void Ducker::duckNow() {
    if (std::holds_alternative<Ducked>(m_state))
        return;
    if (!m_isPlaying || !m_isPlaying()) {
        CoreLog::write("ducker: nothing plays");
        return;
    }
    // A record a previous run left is dealt with before this duck replaces it with its own:
    // otherwise the old original would be lost, and the next try of the recovery would take
    // the new record for the old one and undo this duck.
    if (!m_recovered)
        m_recovered = recoverPending();

    std::optional<Session> resumed;
    if (auto* restoring = std::get_if<Restoring>(&m_state)) {
        auto current = m_output->volume(restoring->session.device);
        if (current && !differs(*current, restoring->session.written))
            resumed = restoring->session;
    }

    OutputVolume::DeviceId device = 0;
    std::optional<std::string> uid;
    float v = 0;
    if (resumed) {
        // A duck during the fade up lowers towards a quarter of the first duck's original,
        // not of the partly raised volume.
        device = resumed->device;
        uid = resumed->uid;
        v = resumed->original;
    } else {
        auto defaultDevice = m_output->defaultDevice();
        std::optional<float> volume;
        if (defaultDevice)
            volume = m_output->volume(*defaultDevice);
        if (!volume) {
            CoreLog::write("ducker: the output has no volume control");
            return;
        }
        device = *defaultDevice;
        v = *volume;
        if (m_output->isOutputMuted(device).value_or(false))
            return;
        if (v < tolerance)
            return;
        uid = m_output->uid(device);
    }

    ++m_generation;
    float c = m_output->volume(device).value_or(v);
    Session session{device, uid, v, c};
    m_state = Ducked{session};
    float target = std::clamp(v * level, 0.0f, std::max(v, 0.0f));
    CoreLog::write("ducker: " + formatVolume(c) + " \u2192 " + formatVolume(target));
    startFade(Ramp::values(c, target, m_fadeDownDuration, rampStep));
}

void Ducker::restoreNow(Restore how) {
    Session* current = session();
    if (!current || (how == Restore::fade && std::holds_alternative<Restoring>(m_state)))
        return;
    Session s = *current;
    ++m_generation;

    auto volume = m_output->volume(s.device);
    if (!volume) {
        m_state = Idle{};
        removePending();
        return;
    }
    if (differs(*volume, s.written)) {
        CoreLog::write("ducker: the volume was changed meanwhile: kept");
        m_state = Idle{};
        removePending();
        return;
    }
    if (how == Restore::fade) {
        s.written = *volume;
        m_state = Restoring{s};
        startFade(Ramp::values(*volume, s.original, m_fadeUpDuration, rampStep));
        return;
    }
    write(s.original, s);
    m_state = Idle{};
    removePending();
}

void Ducker::startFade(std::vector<float> values) {
    // The record is written before the first write and again once the fade has ended, never
    // at each step: a save rewrites the whole defaults file, and doing it every 10 ms would
    // stretch the fade. It names the fade's whole path, so that the next launch takes a
    // volume a crash left anywhere on it for ours.
    if (Session* s = session(); s && !values.empty())
        savePending(*s, s->written, values.back());
    step(std::move(values), 0, Clock::uptime(), m_generation);
}

void Ducker::step(std::vector<float> values, std::size_t index, double start,
                  std::uint64_t generation) {
    Session* s = session();
    if (generation != m_generation || !s)
        return;

    auto current = m_output->volume(s->device);
    if (current && differs(*current, s->written)) {
        CoreLog::write("ducker: the volume was changed during the fade: kept");
        m_state = Idle{};
        removePending();
        return;
    }
    write(values[index], *s);
    s->written = m_output->volume(s->device).value_or(values[index]);

    if (index + 1 < values.size()) {
        // Steps are due at whole steps from the fade's start, not from the end of the last
        // one, so slow writes do not stretch the fade: a step that is already late goes on
        // with the value that is due now.
        const double elapsed = Clock::uptime() - start;
        std::size_t next = index + 1;
        if (elapsed > 0)
            next = std::max(next, static_cast<std::size_t>(elapsed / rampStep + 1e-9));
        next = std::min(next, values.size() - 1);
        const double delay =
            std::max(0.0, start + static_cast<double>(next) * rampStep - Clock::uptime());
        m_queue.after(delay, [this, values = std::move(values), next, start, generation]() mutable {
            step(std::move(values), next, start, generation);
        });
        return;
    }
    if (std::holds_alternative<Ducked>(m_state)) {
        savePending(*s, s->written);
    } else {
        m_state = Idle{};
        removePending();
    }
}

void Ducker::write(float volume, const Session& session) {
    if (auto result = m_output->setVolume(clampVolume(volume, session.original), session.device);
        !result)
        CoreLog::write("ducker: " + result.error().description());
}

void Ducker::savePending(const Session& session, float written, std::optional<float> target) {
    if (!m_defaults || !session.uid)
        return;
    nlohmann::json record{
        {"uid", *session.uid}, {"original", session.original}, {"written", written}};
    if (target)
        record["target"] = *target;
    m_defaults->set(pendingKey, std::move(record));
}

void Ducker::removePending() {
    if (m_defaults)
        m_defaults->remove(pendingKey);
}

void Ducker::recoverWhenReachable() {
    if (m_recovered)
        return; // a duck has done it meanwhile
    m_recovered = recoverPending();
    if (!m_recovered)
        m_queue.after(recoveryRetry, [this] { recoverWhenReachable(); });
}

bool Ducker::recoverPending() {
    if (!m_defaults)
        return true;
    auto record = m_defaults->get(pendingKey);
    if (!record || !record->is_object())
        return true;
    // Before the server answers, no device can be found: the record waits for it instead of
    // being dropped as if its device were gone.
    if (!m_output->isReachable())
        return false;
    m_defaults->remove(pendingKey);

    auto uid = record->find("uid");
    auto original = record->find("original");
    auto written = record->find("written");
    if (uid == record->end() || !uid->is_string() || original == record->end() ||
        !original->is_number() || written == record->end() || !written->is_number())
        return true;
    auto device = m_output->device(uid->get<std::string>());
    if (!device)
        return true;
    auto volume = m_output->volume(*device);
    float originalVolume = original->get<float>();
    if (!volume)
        return true;
    if (!isOurs(*volume, *record))
        return true;
    if (!std::isfinite(originalVolume))
        return true;
    write(originalVolume, Session{*device, uid->get<std::string>(), originalVolume, 0});
    CoreLog::write("ducker: restored the volume a previous run left ducked");
    return true;
}

} // namespace talverin
