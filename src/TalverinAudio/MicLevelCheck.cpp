#include "TalverinAudio/MicLevelCheck.h"

#include "Runtime/EventLoop.h"
#include "TalverinAudio/AudioDevices.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <string>
#include <utility>

namespace talverin {
namespace {

// The check's lines belong to the microphone's log.
void log(const std::string& line) {
    CoreLog::write("mic: " + line);
}

} // namespace

MicLevelCheck::MicLevelCheck(Host& host, std::shared_ptr<AudioSystem> system)
    : m_host(host), m_system(std::move(system)) {}

void MicLevelCheck::begin(ReadingCallback onReading) {
    const std::int64_t id = ++m_generation;
    m_host.post([this, id, onReading = std::move(onReading)]() mutable {
        start(id, std::move(onReading));
    });
}

void MicLevelCheck::end() {
    ++m_generation;
    m_host.post([this] {
        // A check that carries the current generation was begun after this end.
        if (m_state == State::off || m_check.id == generation())
            return;
        log("level check ended (" + std::to_string(m_check.readings) + " readings)");
        clear(End::pauseEngine);
    });
}

void MicLevelCheck::interrupt() {
    ++m_generation;
}

void MicLevelCheck::start(std::int64_t id, ReadingCallback onReading) {
    if (id != generation())
        return; // a later begin or end overtook it
    const double now = Clock::uptime();
    if (m_state == State::running && m_meter->isActive() && m_host.engineRuns()) {
        // Take over the running check: its window and its count go on.
        m_check.id = id;
        m_check.onReading = std::move(onReading);
        m_check.nextRetry = 0;
        m_check.loggedReason.reset();
        return;
    }
    // A check that is replaced keeps its timer.
    const bool timerRuns = m_state != State::off;
    m_check =
        Check{.id = id, .onReading = std::move(onReading), .window = LevelWindow::startingAt(now)};
    m_state = State::running;
    if (!timerRuns)
        startTimer();
    if (m_host.isCapturing()) {
        m_state = State::waiting;
        log("level check waits for the capture to end");
        return;
    }
    startEngine();
}

void MicLevelCheck::startTimer() {
    scheduleTick(++m_timerSerial, Clock::uptime() + MicCheck::interval);
}

void MicLevelCheck::scheduleTick(std::uint64_t timer, double due) {
    m_host.after(std::max(0.0, due - Clock::uptime()), [this, timer, due] {
        if (m_state == State::off || m_timerSerial != timer)
            return;
        // The next tick is set before this one runs, so that nothing the tick does can stop
        // the timer; a tick that drops the check makes it a no-op. A queue that fell behind
        // skips the ticks it missed.
        double next = due + MicCheck::interval;
        const double now = Clock::uptime();
        while (next <= now)
            next += MicCheck::interval;
        scheduleTick(timer, next);
        tick();
    });
}

void MicLevelCheck::tick() {
    if (m_check.id != generation()) {
        clear(End::pauseEngine);
        return;
    }
    if (m_state == State::waiting)
        return;

    const double now = Clock::uptime();
    const MicCheckReading reading =
        m_state == State::failing
            ? MicCheckReading{0, m_check.failure}
            : m_check.window.tick(
                  now, m_meter->drain(),
                  [this](const LevelWindow::Evidence& evidence) { return diagnose(evidence); });
    ++m_check.readings;

    if (!reading.reason && m_check.loggedReason)
        log("level check: hearing input");
    else if (reading.reason && m_check.loggedReason != reading.reason)
        log("level check: quiet (" + std::string(toString(*reading.reason)) + ")");
    m_check.loggedReason = reading.reason;

    // Called outside every lock; the callback must not wait for the control queue.
    if (m_check.id == generation() && m_check.onReading) {
        auto onReading = m_check.onReading;
        onReading(reading);
    }
    if (m_state == State::failing && now >= m_check.nextRetry)
        startEngine();
}

void MicLevelCheck::startEngine() {
    if (m_state == State::off)
        return;
    const double t = Clock::uptime();
    if (auto running = m_host.runEngine(); !running) {
        m_meter->deactivate();
        const MicSilenceReason reason = startFailure(running.error());
        return fail(reason, t,
                    "level check: no engine (" + std::string(toString(reason)) + "; " +
                        running.error().description() + ")");
    }
    m_meter->activate();
    const bool wasFailing = m_state == State::failing;
    m_check.window = LevelWindow::startingAt(t);
    m_state = State::running;
    log(wasFailing ? "level check running again" : "level check started");
}

void MicLevelCheck::fail(MicSilenceReason reason, double retryFrom, const std::string& line) {
    if (m_state != State::failing || m_check.failure != reason)
        log(line);
    m_state = State::failing;
    m_check.failure = reason;
    m_check.nextRetry = retryFrom + MicCheck::silenceWindow;
}

void MicLevelCheck::engineLost(const MicError& error) {
    if (m_state == State::off || m_state == State::waiting)
        return;
    m_meter->deactivate();
    const MicSilenceReason reason = startFailure(error);
    fail(reason, Clock::uptime(),
         "level check: engine lost (" + std::string(toString(reason)) + ")");
}

void MicLevelCheck::followEngine() {
    if (m_state == State::off || m_state == State::waiting || !m_host.hasEngine())
        return;
    if (m_state == State::running && m_host.engineRuns() && m_meter->isActive())
        return;
    if (m_host.isCapturing())
        return;
    startEngine();
}

bool MicLevelCheck::takeOverAfterCapture() {
    if (m_state == State::off || m_check.id != generation())
        return false;
    startEngine();
    return true;
}

void MicLevelCheck::drop() {
    clear(End::keepEngine);
}

void MicLevelCheck::clear(End end) {
    if (m_state == State::off)
        return;
    m_state = State::off;
    // Lets go of the page's callback too.
    m_check = Check{};
    m_meter->deactivate();
    if (end == End::pauseEngine)
        m_host.pauseIdleEngine();
}

MicSilenceReason MicLevelCheck::diagnose(const LevelWindow::Evidence& evidence) {
    LevelWindow::DeviceFacts facts;
    if (auto device = m_host.checkedDevice()) {
        facts.exists = true;
        facts.present = AudioDevices::isConnected(*m_system, *device);
        // The device is asked only for what decides the reason.
        facts.muted = facts.present && m_system->isInputMuted(device->id);
        facts.hoggedByOther =
            facts.present && !facts.muted && m_system->isHeldByOtherProcess(device->id);
    }
    return LevelWindow::diagnoseFrom(facts, evidence);
}

MicSilenceReason MicLevelCheck::startFailure(const MicError& error) {
    if (error.kind() == MicError::Kind::noInput)
        return MicSilenceReason::noInput;
    if (error.kind() == MicError::Kind::notAuthorized)
        return MicSilenceReason::unknown;
    auto device = m_host.checkedDevice();
    if (!device)
        return MicSilenceReason::noInput;
    return m_system->isInputMuted(device->id) ? MicSilenceReason::muted : MicSilenceReason::busy;
}

} // namespace talverin
