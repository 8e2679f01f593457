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
        m_levelCheck.drop();
        tearDown();
    });
}

std::function<void()> DictationMic::guarded(std::function<void()> job) {
    return [this, job = std::move(job)] {
        boundWaits();
        if (!m_closed)
            job();
    };
}

void DictationMic::post(std::function<void()> job) {
    m_control.async(guarded(std::move(job)));
}

void DictationMic::after(double delay, std::function<void()> job) {
    m_control.after(delay, guarded(std::move(job)));
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
            m_levelCheck.followEngine();
        else
            m_levelCheck.engineLost(result.error());
        return result;
    });
}

Result<void, MicError> DictationMic::begin() {
    const double t0 = Clock::uptime();
    // A dictation ends the delivery of a running level check.
    m_levelCheck.interrupt();
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
    engine->installTap(tapFrames, *format,
                       [meter = m_levelCheck.meter(), core = m_core](AudioBlock block,
                                                                     std::optional<double> time) {
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
    m_levelCheck.drop();
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
    // A level check asked for during the capture keeps the engine running.
    if (m_levelCheck.takeOverAfterCapture())
        return;
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
        m_levelCheck.engineLost(MicError::noInput());
        // Nothing is left to prepare on: a preparation now would only fail again and log it.
        return;
    }
    if (isPreparedOn(choice->device)) {
        m_recheck = false;
        return;
    }
    auto prepared = prepare(reason, Preparation::rebuild);
    if (prepared) {
        m_levelCheck.followEngine();
    } else {
        log(reason + ": prepare failed (" + prepared.error().description() + ")");
        m_levelCheck.engineLost(prepared.error());
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
        m_levelCheck.followEngine();
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
        m_levelCheck.engineLost(MicError::engine("configuration"));
    }
}

// The level check.

void DictationMic::beginLevelCheck(ReadingCallback onReading) {
    m_levelCheck.begin(std::move(onReading));
}

void DictationMic::endLevelCheck() {
    m_levelCheck.end();
}

Result<void, MicError> DictationMic::runEngine() {
    if (auto prepared = prepare("level check", Preparation::reuse); !prepared)
        return prepared;
    if (!m_engine)
        return fail(MicError::noInput());
    if (!m_engine->isRunning()) {
        if (auto started = m_engine->start(); !started)
            return fail(MicError::engine(describe(started.error())));
    }
    return {};
}

bool DictationMic::hasEngine() const {
    return m_engine != nullptr;
}

bool DictationMic::engineRuns() const {
    return m_engine && m_engine->isRunning();
}

void DictationMic::pauseIdleEngine() {
    if (!engineRuns() || m_core->isCapturing())
        return;
    m_engine->pause();
    m_core->markPaused(Clock::uptime());
}

bool DictationMic::isCapturing() const {
    return m_core->isCapturing();
}

std::optional<InputDevice> DictationMic::checkedDevice() {
    if (m_prepared)
        return m_prepared->device;
    auto choice = chooseDevice();
    return choice ? std::optional<InputDevice>(choice->device) : std::nullopt;
}

} // namespace talverin
