#include "TalverinInput/TapSession.h"

#include "Runtime/MainQueue.h"
#include "Runtime/ThreadName.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace talverin {

namespace {

using Kind = HoldMachine::Input::Kind;

// The waits for the tap thread itself (its start, its end) are in real time: they bound how
// long the main thread blocks, whatever clock the timers run on.
std::chrono::nanoseconds realDuration(double seconds) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(seconds));
}

} // namespace

TapSession::TapSession(std::uint64_t id, HoldKeySpec spec, double trustPoll,
                       std::function<bool()> isTrusted, std::shared_ptr<LockedFlag> escapeWatch,
                       std::unique_ptr<KeySource> source, std::function<void(Message)> send)
    : m_id(id), m_send(std::move(send)), m_trustPoll(trustPoll), m_isTrusted(std::move(isTrusted)),
      m_escapeWatch(std::move(escapeWatch)), m_source(std::move(source)), m_spec(spec) {}

TapSession::~TapSession() = default;

Result<void, TapSession::StartError> TapSession::begin() {
    {
        std::lock_guard lock(m_endLock);
        m_threadRunning = true;
    }
    try {
        std::thread([self = shared_from_this()] { self->threadBody(); }).detach();
    } catch (const std::system_error& error) {
        std::lock_guard lock(m_endLock);
        m_threadRunning = false;
        return fail(StartError::noThread, error.what());
    }
    if (!m_answered.try_acquire_for(realDuration(startTimeout))) {
        CoreLog::write("KeyTap: the tap thread did not answer in 2 s");
        // A thread that comes up later finds the request at its handshake and ends.
        cancel();
        return fail(StartError::noAnswer);
    }
    std::lock_guard lock(m_lock);
    if (!m_installed)
        return fail(StartError::sourceRefused, m_refusal);
    return {};
}

void TapSession::threadBody() {
    // At most 15 characters.
    nameCurrentThread("Talverin.KeyTap");
    const bool installed = install();
    bool cancelNoted = false;
    {
        std::lock_guard lock(m_lock);
        m_installed = installed;
        m_loopReady = installed;
        cancelNoted = m_cancelRequested;
    }
    m_answered.release();
    if (installed) {
        if (cancelNoted)
            m_finished = true;
        while (!m_finished)
            runOnce();
        uninstall();
    }
    // Work queued from now on is dropped; what is still queued holds the session and goes too.
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_lock);
        m_loopReady = false;
        dropped.swap(m_blocks);
    }
    dropped.clear();
    {
        std::lock_guard lock(m_endLock);
        m_threadRunning = false;
    }
    m_endSignal.notify_all();
}

bool TapSession::waitUntilEnded(double seconds) const {
    std::unique_lock lock(m_endLock);
    return m_endSignal.wait_for(lock, realDuration(seconds), [this] { return !m_threadRunning; });
}

bool TapSession::install() {
    auto opened = m_source->open();
    if (!opened) {
        std::lock_guard lock(m_lock);
        m_refusal = std::string(toString(opened.error())) +
                    (opened.message().empty() ? "" : ": " + opened.message());
        return false;
    }
    // The trust check may come up to a tenth of its period late, the probe up to 10 ms, so
    // that one wake-up can serve both.
    m_trustTimer = LoopTimer{m_trustPoll, m_trustPoll * 0.1, Clock::uptime() + m_trustPoll};
    m_probeTimer = LoopTimer{HoldMachine::probeInterval, 0.01, std::nullopt};
    m_timersExist = true;
    return true;
}

void TapSession::uninstall() {
    m_source->close();
    m_timersExist = false;
    m_trustTimer = LoopTimer{};
    m_probeTimer = LoopTimer{};
    m_probeArmed = false;
    m_machine.reset();
}

void TapSession::runOnce() {
    std::optional<double> wakeAt;
    for (const LoopTimer* timer : {&m_trustTimer, &m_probeTimer}) {
        if (!timer->next)
            continue;
        const double latest = *timer->next + timer->tolerance;
        wakeAt = wakeAt ? std::min(*wakeAt, latest) : latest;
    }
    double timeout = -1;
    if (wakeAt)
        timeout = std::max(0.0, *wakeAt - Clock::uptime());
    m_source->wait(timeout);

    runBlocks();
    if (!m_finished)
        m_source->drain([this](const TapEvent& event) { handle(event); });
    if (!m_finished)
        fireTimers();
}

void TapSession::runBlocks() {
    std::deque<std::function<void()>> blocks;
    {
        std::lock_guard lock(m_lock);
        blocks.swap(m_blocks);
    }
    for (auto& block : blocks)
        block();
}

void TapSession::fireTimers() {
    const double now = Clock::uptime();
    // The next firing is set before the timer's work, which may park or re-arm the timer.
    auto due = [now](LoopTimer& timer) {
        if (!timer.next || *timer.next > now)
            return false;
        *timer.next += timer.interval;
        if (*timer.next <= now)
            *timer.next = now + timer.interval;
        return true;
    };
    if (due(m_trustTimer))
        trustFired();
    if (!m_finished && due(m_probeTimer))
        probeFired();
}

void TapSession::cancel() {
    {
        std::lock_guard lock(m_lock);
        if (m_cancelRequested)
            return;
        m_cancelRequested = true;
        // Before the handshake the thread sees the request there and finishes at once.
        if (!m_loopReady)
            return;
        m_blocks.push_back([self = shared_from_this()] {
            if (!self->m_finished)
                self->finish();
        });
    }
    m_source->wake();
}

void TapSession::perform(std::function<void(TapSession&)> body) {
    {
        std::lock_guard lock(m_lock);
        if (m_cancelRequested || !m_loopReady)
            return;
        m_blocks.push_back([self = shared_from_this(), body = std::move(body)] {
            if (!self->m_finished)
                body(*self);
        });
    }
    m_source->wake();
}

void TapSession::finish() {
    m_finished = true;
    std::lock_guard lock(m_lock);
    m_cancelRequested = true;
}

void TapSession::setHoldKey(HoldKey key) {
    perform([key](TapSession& session) { session.m_spec = HoldKeySpec::of(key); });
}

void TapSession::setHandsFree(bool on) {
    perform([on](TapSession& session) {
        session.m_machine.setHandsFree(on);
        session.updateProbe();
    });
}

void TapSession::setCapturing(Capturing capturing) {
    perform([capturing](TapSession& session) {
        session.m_capture = capturing == Capturing::on ? std::optional<KeyCapture>(KeyCapture())
                                                       : std::nullopt;
    });
}

void TapSession::systemWillSleep(double at) {
    perform([at](TapSession& session) { session.feed(HoldMachine::Input{Kind::sleep, at}); });
}

std::optional<HoldMachine::Input> TapSession::input(const TapEvent& event, const HoldKeySpec& spec,
                                                    double now) {
    if (event.type != TapEvent::Type::input || event.isOwn)
        return std::nullopt;
    const double time =
        event.serverTime == 0 ? now : EventClock::uptimeOfServerTime(event.serverTime, now);
    const bool isRepeat = event.kind == KeyEventKind::keyDown && event.isRepeat;
    return spec.classify(event.kind, event.keyCode, event.flags, isRepeat, time);
}

std::optional<KeyCapture::Event> TapSession::captureEvent(const TapEvent& event) {
    if (event.type != TapEvent::Type::input || event.isOwn)
        return std::nullopt;
    switch (event.kind) {
    case KeyEventKind::mouseDown:
        return KeyCapture::Event::mouseDown();
    case KeyEventKind::keyDown:
        return KeyCapture::Event::keyDown(event.keyCode, event.flags, event.isRepeat);
    case KeyEventKind::keyUp:
        return KeyCapture::Event::keyUp(event.keyCode);
    case KeyEventKind::flagsChanged:
        return KeyCapture::Event::flagsChanged(event.keyCode, event.flags);
    case KeyEventKind::other:
        // Only the press of a media key counts; its release and everything else do not.
        if (event.isMediaKeyDown)
            return KeyCapture::Event::mediaKey();
        return std::nullopt;
    }
    return std::nullopt;
}

void TapSession::handle(const TapEvent& event) {
    if (m_finished)
        return;
    switch (event.type) {
    case TapEvent::Type::disabledByTimeout:
    case TapEvent::Type::disabledByUserInput:
        reenable(event.type);
        return;
    case TapEvent::Type::connectionLost:
        // Without its connection the session hears nothing more: that is a loss of trust.
        loseTrust();
        return;
    case TapEvent::Type::input:
        break;
    }
    if (!m_capture) {
        if (auto in = input(event, m_spec, Clock::uptime()))
            feed(*in);
        return;
    }
    // While capturing, key events never reach the hold machine.
    auto captured = captureEvent(event);
    if (!captured)
        return;
    auto result = m_capture->handle(*captured);
    if (!result)
        return;
    // A rejection keeps the capture so that the user can try again.
    if (result->kind() != KeyCaptureResult::Kind::rejected)
        m_capture.reset();
    send(CaptureMessage{*result});
}

void TapSession::feed(const HoldMachine::Input& input) {
    const HoldMachine before = m_machine;
    const auto output = m_machine.handle(input);
    diagnose(input, output, before);
    if (before.isKeyDown() != m_machine.isKeyDown())
        send(HoldKeyMessage{m_machine.isKeyDown(), input.t});
    if (output)
        send(OutputsMessage{{*output}});
    // In addition to whatever the machine did with it: during a hold it also cancels.
    if (input.kind == Kind::escape && !before.isHandsFree() && m_escapeWatch->get())
        send(EscapeWatchedMessage{input.t});
    updateProbe();
}

void TapSession::updateProbe() {
    if (!m_timersExist)
        return;
    // The probe costs nothing while the key is up: its timer is parked.
    if (m_machine.isKeyDown() && !m_probeArmed) {
        m_probeTimer.next = Clock::uptime() + HoldMachine::probeInterval;
        m_probeArmed = true;
    } else if (!m_machine.isKeyDown() && m_probeArmed) {
        m_probeTimer.next.reset();
        m_probeArmed = false;
    }
}

void TapSession::probeFired() {
    if (m_finished)
        return;
    const bool down = m_source->isKeyDown(m_spec.keyCode);
    feed(HoldMachine::Input::keyState(down, Clock::uptime()));
}

void TapSession::trustFired() {
    if (m_finished)
        return;
    if (!m_isTrusted())
        loseTrust();
}

void TapSession::reenable(TapEvent::Type type) {
    if (!m_isTrusted()) {
        loseTrust();
        return;
    }
    m_source->enable();
    m_reenables += 1;
    if (m_reenables < 6 || m_reenables % 50 == 0) {
        const char* cause = type == TapEvent::Type::disabledByTimeout ? "a timeout" : "user input";
        CoreLog::write(std::string("KeyTap: re-enabled after ") + cause + " (" +
                       std::to_string(m_reenables) + ")");
    }
    // A key-up may have passed while the source was off.
    if (!m_machine.isKeyDown() || !m_timersExist)
        return;
    m_probeTimer.next = Clock::uptime();
    m_probeArmed = true;
}

void TapSession::loseTrust() {
    if (m_finished)
        return;
    const double t = Clock::uptime();
    const bool wasDown = m_machine.isKeyDown();
    // The machine's own trustLost transition resets it and cancels a hold or hands-free.
    const auto output = m_machine.handle(HoldMachine::Input{Kind::trustLost, t});
    if (wasDown)
        send(HoldKeyMessage{false, t});
    TrustLostMessage lost;
    if (output)
        lost.outputs.push_back(*output);
    send(std::move(lost));
    finish();
}

void TapSession::diagnose(const HoldMachine::Input& input,
                          const std::optional<HoldMachine::Output>& output,
                          const HoldMachine& before) {
    using OutKind = HoldMachine::Output::Kind;
    if (input.kind == Kind::keyState && before.isPressed() && output &&
        output->kind == OutKind::release) {
        m_recoveredReleases += 1;
        CoreLog::write("KeyTap: a missed key-up was recovered by the key-state probe (" +
                       std::to_string(m_recoveredReleases) + ")");
    }
    if (output && output->kind == OutKind::cancel && output->reason == KeyCancelReason::watchdog &&
        output->t == input.t)
        CoreLog::write("KeyTap: the hold was ended by the watchdog or a system sleep");
    if (before.isPressed() && !m_machine.isPressed() && !before.probeSawDown() &&
        input.t - before.key().since > 1 && !m_loggedBlindProbe) {
        m_loggedBlindProbe = true;
        CoreLog::write("KeyTap: the key-state probe never saw the key down (missed key-ups end "
                       "only at the watchdog)");
    }
}

} // namespace talverin
