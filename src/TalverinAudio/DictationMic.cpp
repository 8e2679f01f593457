#include "TalverinAudio/DictationMic.h"

#include "Runtime/MainQueue.h"
#include "Runtime/Milliseconds.h"
#include "TalverinAudio/AudioDevices.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace talverin {

namespace {

void log(const std::string& line) {
    CoreLog::write("mic: " + line);
}

std::string msSince(double t0) {
    return std::to_string(wholeMs(Clock::uptime() - t0));
}

std::string transportName(const InputDevice& device) {
    return std::string(toString(device.transport));
}

} // namespace

DictationMic::DictationMic(std::shared_ptr<AudioSystem> system, Authorized authorized)
    : m_system(std::move(system)), m_authorized(std::move(authorized)) {
    m_core = std::make_shared<CaptureCore>(m_audio);
    // The capture engine calls this on the audio queue, which must never wait for the control
    // queue: it only posts.
    m_core->setOnComplete([this] { post([this] { captureEnded(); }); });
}

DictationMic::~DictationMic() {
    m_core->setOnComplete(nullptr);
    m_control.sync([this] {
        boundWaits();
        m_closed = true;
        for (auto id : m_listeners)
            m_system->removeListener(id);
        m_listeners.clear();
        clearCheck(CheckEnd::keepEngine);
        tearDown();
    });
}

void DictationMic::post(std::function<void()> job) {
    m_control.async([this, job = std::move(job)] {
        boundWaits();
        if (!m_closed)
            job();
    });
}

std::optional<std::string> DictationMic::deviceID() const {
    std::lock_guard lock(m_lock);
    return m_storedDeviceID;
}

void DictationMic::setDeviceID(std::optional<std::string> id) {
    std::lock_guard lock(m_lock);
    m_storedDeviceID = std::move(id);
}

void DictationMic::setOnBuffer(BufferCallback onBuffer) {
    m_core->setOnBuffer(std::move(onBuffer));
}

std::optional<std::string> DictationMic::deviceName() const {
    auto device = activeDevice();
    return device ? std::optional<std::string>(device->name) : std::nullopt;
}

void DictationMic::setOnDevicesChange(std::function<void()> onChange) {
    std::lock_guard lock(m_lock);
    m_storedOnDevicesChange = std::move(onChange);
}

std::function<void()> DictationMic::onDevicesChange() const {
    std::lock_guard lock(m_lock);
    return m_storedOnDevicesChange;
}

std::optional<InputDevice> DictationMic::activeDevice() const {
    std::lock_guard lock(m_lock);
    return m_storedActiveDevice;
}

std::string DictationMic::describe(const AudioEngineError& error) {
    return error.domain + " " + std::to_string(error.code);
}

Result<void, MicError> DictationMic::prewarm() {
    return m_control.syncValue([this]() -> Result<void, MicError> {
        boundWaits();
        auto result = prepare("prewarm", Preparation::reuse);
        if (result)
            checkFollowsEngine();
        else
            checkLost(result.error());
        return result;
    });
}

Result<void, MicError> DictationMic::begin() {
    const double t0 = Clock::uptime();
    {
        // A dictation ends the delivery of a running level check.
        std::lock_guard lock(m_lock);
        ++m_checkGeneration;
    }
    if (!m_authorized())
        return fail(MicError::notAuthorized());
    auto result = m_control.syncValue([this, t0] {
        // The caller is usually the main thread: every wait on the sound server that this
        // begin makes shares one budget, and a server that does not answer within it fails
        // the begin instead of freezing the caller.
        m_system->limitWaits(t0 + waitBudget);
        m_beginning = true;
        auto started = startCapture(t0);
        m_beginning = false;
        return started;
    });
    if (!result)
        return result;
    log("begin " + msSince(t0) + " ms");
    return {};
}

Future<CapturedClip> DictationMic::end(int postRollMs) {
    const double release = Clock::uptime();
    Promise<CapturedClip> promise;
    m_core->finish(release, std::max(postRollMs, 0) / 1000.0,
                   [promise](const CapturedClip& clip) { promise.resolve(clip); });
    return promise.future();
}

std::optional<DevicePolicy::Choice> DictationMic::chooseDevice() {
    auto requested = deviceID();
    auto devices = AudioDevices::inputs(*m_system);
    auto systemDefault = AudioDevices::defaultInputID(*m_system);
    return DevicePolicy::choose(requested, devices, systemDefault);
}

Result<void, MicError> DictationMic::prepare(const std::string& reason, Preparation preparation) {
    if (!m_authorized()) {
        tearDown();
        return fail(MicError::notAuthorized());
    }
    m_wanted = true;
    startListening();

    auto choice = chooseDevice();
    if (!choice && outOfTime())
        return noAnswer(reason);
    if (!choice) {
        tearDown();
        log(reason + ": no input device");
        return fail(MicError::noInput());
    }
    const InputDevice& device = choice->device;
    if (preparation == Preparation::reuse && isPreparedOn(device))
        return {};
    if (m_core->isCapturing()) {
        // The running capture keeps the old engine; its end rebuilds.
        m_stale = true;
        return {};
    }

    tearDown();
    const double t0 = Clock::uptime();
    const std::string transport = transportName(device);
    std::unique_ptr<AudioEngine> engine = m_system->makeEngine();
    if (!engine)
        return fail(MicError::noInput());
    if (auto selected = engine->selectDevice(device); !selected) {
        if (outOfTime())
            return noAnswer(reason);
        const auto status = static_cast<std::int32_t>(selected.error().code);
        log(reason + ": selecting the " + transport + " device failed (" + std::to_string(status) +
            ")");
        return fail(MicError::device(status));
    }
    auto format = engine->inputFormat();
    if (!format || !(format->sampleRate > 0) || format->channels <= 0) {
        log(reason + ": the " + transport + " device has no input format");
        return fail(MicError::noInput());
    }
    // The tap holds the meter and the capture engine, never the service.
    engine->installTap(
        tapFrames, *format,
        [meter = m_meter, core = m_core](AudioBlock block, std::optional<double> time) {
            meter->tap(block);
            core->tap(std::move(block), time);
        });
    engine->prepare();
    const std::uint64_t serial = ++m_engineSerial;
    engine->setOnConfigurationChange(
        [this, serial] { post([this, serial] { configurationChanged(serial); }); });

    m_engine = std::move(engine);
    m_prepared = Prepared{device, AudioDevices::inputShape(*m_system, device.id)};
    m_stale = false;
    m_recheck = false;
    {
        std::lock_guard lock(m_lock);
        m_storedActiveDevice = device;
    }
    log(reason + ": prepared " + transport + " input (" + std::string(toString(choice->reason)) +
        (choice->requestedMissing ? ", picked device missing" : "") + "), " +
        std::to_string(static_cast<long long>(format->sampleRate)) + " Hz, " +
        std::to_string(format->channels) + " ch, in " + msSince(t0) + " ms");
    return {};
}

void DictationMic::boundWaits() {
    m_system->limitWaits(Clock::uptime() + waitBudget);
}

bool DictationMic::outOfTime() {
    return m_beginning && m_system->waitRanOut();
}

Result<void, MicError> DictationMic::noAnswer(const std::string& reason) {
    log(reason + ": no answer from the sound server within " + std::to_string(wholeMs(waitBudget)) +
        " ms");
    return fail(MicError::engine(noAnswerText));
}

bool DictationMic::isPreparedOn(const InputDevice& device) const {
    return !m_stale && m_engine && m_prepared && m_prepared->device.isSame(device);
}

void DictationMic::tearDown() {
    if (m_engine) {
        m_engine->setOnConfigurationChange(nullptr);
        m_engine->removeTap();
        m_engine->stop();
    }
    m_engine.reset();
    m_prepared.reset();
    std::lock_guard lock(m_lock);
    m_storedActiveDevice.reset();
}

Result<void, MicError> DictationMic::startCapture(double t0) {
    clearCheck(CheckEnd::keepEngine);
    if (!m_engine || m_stale || !m_prepared) {
        if (auto prepared = prepare("begin", Preparation::rebuild); !prepared)
            return prepared;
        if (!m_engine)
            return fail(MicError::noInput());
    }
    m_core->start(t0);
    auto started = m_engine->start();
    if (started)
        return {};

    m_core->cancel();
    if (outOfTime()) {
        // The engine may be fine once the server answers again; the next begin rebuilds it.
        m_stale = true;
        return noAnswer("begin");
    }
    log("start failed (" + describe(started.error()) + "), rebuilding");
    if (auto prepared = prepare("retry", Preparation::rebuild); !prepared)
        return prepared;
    if (!m_engine)
        return fail(MicError::noInput());
    m_core->start(t0);
    auto again = m_engine->start();
    if (again)
        return {};

    m_core->cancel();
    m_stale = true;
    log("start failed again (" + describe(again.error()) + ")");
    return fail(MicError::engine(describe(again.error())));
}

void DictationMic::captureEnded() {
    if (m_core->isCapturing())
        return;
    if (m_check && m_check->id == checkGeneration()) {
        // The level check asked for during the capture keeps the engine running.
        m_check->waiting = false;
        startCheckEngine();
        return;
    }
    if (m_engine)
        m_engine->pause();
    // Audio captured before the pause must never reach a later clip.
    m_core->markPaused(Clock::uptime());
    if (m_stale || m_recheck)
        scheduleRebuild("after capture", 0);
}

void DictationMic::startListening() {
    if (m_listening)
        return;
    m_listening = true;
    for (auto property : {AudioSystem::Property::defaultInput, AudioSystem::Property::deviceList}) {
        auto id = m_system->addListener(property, [this] { post([this] { devicesChanged(); }); });
        if (id)
            m_listeners.push_back(id.value());
        else
            log("listener " + CA::fourCC(codeOf(property)) + " failed (" +
                std::to_string(id.error().status) + ")");
    }
}

void DictationMic::devicesChanged() {
    if (auto callback = onDevicesChange())
        MainQueue::post(std::move(callback));
    if (m_wanted)
        scheduleRebuild("devices", devicesDelay);
}

void DictationMic::scheduleRebuild(std::string reason, double delay) {
    const std::uint64_t token = ++m_rebuildToken;
    m_control.after(delay, [this, token, reason = std::move(reason)] {
        boundWaits();
        if (!m_closed && token == m_rebuildToken)
            rebuildIfNeeded(reason);
    });
}

void DictationMic::rebuildIfNeeded(const std::string& reason) {
    if (!m_wanted || !m_authorized())
        return;
    if (m_core->isCapturing()) {
        m_recheck = true;
        return;
    }
    auto choice = chooseDevice();
    if (!choice) {
        if (m_engine)
            log(reason + ": no input device left");
        tearDown();
        checkLost(MicError::noInput());
        // Nothing is left to prepare on: a preparation now would only fail again and log it.
        return;
    }
    if (isPreparedOn(choice->device)) {
        m_recheck = false;
        return;
    }
    auto prepared = prepare(reason, Preparation::rebuild);
    if (prepared) {
        checkFollowsEngine();
    } else {
        log(reason + ": prepare failed (" + prepared.error().description() + ")");
        checkLost(prepared.error());
    }
}

void DictationMic::configurationChanged(std::uint64_t engineSerial) {
    if (!m_engine || engineSerial != m_engineSerial || !m_prepared)
        return;
    if (m_core->isCapturing()) {
        log("engine configuration changed during a capture");
        m_stale = true;
        return;
    }
    const InputDevice& device = m_prepared->device;
    const bool present = AudioDevices::isConnected(*m_system, device);
    InputShape shape = AudioDevices::inputShape(*m_system, device.id);
    if (present && shape == m_prepared->shape) {
        m_engine->prepare();
        checkFollowsEngine();
        return;
    }

    const double now = Clock::uptime();
    std::erase_if(m_configRebuilds, [now](double t) { return now - t >= configurationWindow; });
    m_configRebuilds.push_back(now);
    m_stale = true;
    if (m_configRebuilds.size() < configurationLimit) {
        log("engine configuration changed (" + std::to_string(static_cast<long long>(shape.rate)) +
            " Hz, " + std::to_string(shape.channels) + " ch)");
        scheduleRebuild("configuration", configurationDelay);
    } else {
        log("engine configuration keeps changing: rebuilt at the next begin");
        checkLost(MicError::engine("configuration"));
    }
}

// The level check.

std::int64_t DictationMic::checkGeneration() const {
    std::lock_guard lock(m_lock);
    return m_checkGeneration;
}

void DictationMic::beginLevelCheck(ReadingCallback onReading) {
    std::int64_t id = 0;
    {
        std::lock_guard lock(m_lock);
        id = ++m_checkGeneration;
    }
    post([this, id, onReading = std::move(onReading)]() mutable {
        startCheck(id, std::move(onReading));
    });
}

void DictationMic::endLevelCheck() {
    {
        std::lock_guard lock(m_lock);
        ++m_checkGeneration;
    }
    post([this] {
        // A check that carries the current generation was begun after this end.
        if (!m_check || m_check->id == checkGeneration())
            return;
        log("level check ended (" + std::to_string(m_check->readings) + " readings)");
        clearCheck(CheckEnd::pauseEngine);
    });
}

void DictationMic::startCheck(std::int64_t id, ReadingCallback onReading) {
    if (id != checkGeneration())
        return; // a later begin or end overtook it
    const double now = Clock::uptime();
    if (m_check && !m_check->failure && !m_check->waiting && m_meter->isActive() && m_engine &&
        m_engine->isRunning()) {
        // Take over the running check: its window and its count go on.
        m_check->id = id;
        m_check->onReading = std::move(onReading);
        m_check->nextRetry = 0;
        m_check->loggedReason.reset();
        return;
    }
    m_check =
        Check{.id = id, .onReading = std::move(onReading), .window = LevelWindow::startingAt(now)};
    startCheckTimer();
    if (m_core->isCapturing()) {
        m_check->waiting = true;
        log("level check waits for the capture to end");
        return;
    }
    startCheckEngine();
}

void DictationMic::startCheckTimer() {
    if (m_checkTimer)
        return;
    const std::uint64_t timer = ++m_checkTimerSerial;
    m_checkTimer = timer;
    scheduleCheckTick(timer, Clock::uptime() + MicCheck::interval);
}

void DictationMic::scheduleCheckTick(std::uint64_t timer, double due) {
    m_control.after(std::max(0.0, due - Clock::uptime()), [this, timer, due] {
        if (m_closed || m_checkTimer != timer)
            return;
        boundWaits();
        // The next tick is set before this one runs, so that nothing the tick does can stop
        // the timer; a tick that drops the check makes it a no-op. A queue that fell behind
        // skips the ticks it missed.
        double next = due + MicCheck::interval;
        const double now = Clock::uptime();
        while (next <= now)
            next += MicCheck::interval;
        scheduleCheckTick(timer, next);
        checkTick();
    });
}

void DictationMic::checkTick() {
    if (!m_check) {
        clearCheck(CheckEnd::keepEngine);
        return;
    }
    if (m_check->id != checkGeneration()) {
        clearCheck(CheckEnd::pauseEngine);
        return;
    }
    if (m_check->waiting)
        return;

    const double now = Clock::uptime();
    MicCheckReading reading{0, m_check->failure};
    if (!m_check->failure)
        reading = m_check->window.tick(
            now, m_meter->drain(),
            [this](const LevelWindow::Evidence& evidence) { return diagnose(evidence); });
    ++m_check->readings;

    if (!reading.reason && m_check->loggedReason)
        log("level check: hearing input");
    else if (reading.reason && m_check->loggedReason != reading.reason)
        log("level check: quiet (" + std::string(toString(*reading.reason)) + ")");
    m_check->loggedReason = reading.reason;

    // Called outside every lock; the callback must not wait for this queue.
    if (m_check->id == checkGeneration() && m_check->onReading) {
        auto onReading = m_check->onReading;
        onReading(reading);
    }
    if (m_check && m_check->failure && now >= m_check->nextRetry)
        startCheckEngine();
}

std::optional<InputDevice> DictationMic::checkedDevice() {
    if (m_prepared)
        return m_prepared->device;
    auto choice = chooseDevice();
    return choice ? std::optional<InputDevice>(choice->device) : std::nullopt;
}

bool DictationMic::isMuted(std::uint32_t id) {
    return m_system->isInputMuted(id);
}

bool DictationMic::isHoggedByOther(std::uint32_t id) {
    return m_system->isHeldByOtherProcess(id);
}

MicSilenceReason DictationMic::diagnose(const LevelWindow::Evidence& evidence) {
    LevelWindow::DeviceFacts facts;
    if (auto device = checkedDevice()) {
        facts.exists = true;
        facts.present = AudioDevices::isConnected(*m_system, *device);
        // The device is asked only for what decides the reason.
        facts.muted = facts.present && isMuted(device->id);
        facts.hoggedByOther = facts.present && !facts.muted && isHoggedByOther(device->id);
    }
    return LevelWindow::diagnoseFrom(facts, evidence);
}

MicSilenceReason DictationMic::startFailure(const MicError& error) {
    if (error.kind() == MicError::Kind::noInput)
        return MicSilenceReason::noInput;
    if (error.kind() == MicError::Kind::notAuthorized)
        return MicSilenceReason::unknown;
    auto device = checkedDevice();
    if (!device)
        return MicSilenceReason::noInput;
    return isMuted(device->id) ? MicSilenceReason::muted : MicSilenceReason::busy;
}

void DictationMic::startCheckEngine() {
    if (!m_check)
        return;
    const double t = Clock::uptime();
    auto failed = [&](const MicError& error) {
        m_meter->deactivate();
        MicSilenceReason reason = startFailure(error);
        if (m_check->failure != reason)
            log("level check: no engine (" + std::string(toString(reason)) + "; " +
                error.description() + ")");
        m_check->failure = reason;
        m_check->nextRetry = t + MicCheck::silenceWindow;
    };

    if (auto prepared = prepare("level check", Preparation::reuse); !prepared)
        return failed(prepared.error());
    if (!m_engine)
        return failed(MicError::noInput());
    if (!m_engine->isRunning()) {
        if (auto started = m_engine->start(); !started)
            return failed(MicError::engine(describe(started.error())));
    }
    m_meter->activate();
    const bool wasFailing = m_check->failure.has_value();
    m_check->window = LevelWindow::startingAt(t);
    m_check->failure.reset();
    log(wasFailing ? "level check running again" : "level check started");
}

void DictationMic::checkLost(const MicError& error) {
    if (!m_check || m_check->waiting)
        return;
    m_meter->deactivate();
    MicSilenceReason reason = startFailure(error);
    if (m_check->failure != reason)
        log("level check: engine lost (" + std::string(toString(reason)) + ")");
    m_check->failure = reason;
    m_check->nextRetry = Clock::uptime() + MicCheck::silenceWindow;
}

void DictationMic::checkFollowsEngine() {
    if (!m_check || m_check->waiting || !m_engine)
        return;
    if (m_engine->isRunning() && m_meter->isActive() && !m_check->failure)
        return;
    if (m_core->isCapturing())
        return;
    startCheckEngine();
}

void DictationMic::clearCheck(CheckEnd end) {
    if (!m_check && !m_checkTimer)
        return;
    m_check.reset();
    m_checkTimer.reset();
    m_meter->deactivate();
    if (end == CheckEnd::pauseEngine && m_engine && m_engine->isRunning() &&
        !m_core->isCapturing()) {
        m_engine->pause();
        m_core->markPaused(Clock::uptime());
    }
}

} // namespace talverin
