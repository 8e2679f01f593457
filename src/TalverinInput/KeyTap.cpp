#include "TalverinInput/KeyTap.h"

#include "Runtime/MainQueue.h"
#include "TalverinCore/CoreLog.h"

#include <string>
#include <type_traits>
#include <utility>

namespace talverin {

KeyTap::KeyTap(HoldKey holdKey, System system) : m_holdKey(holdKey), m_system(std::move(system)) {}

KeyTap::~KeyTap() {
    m_alive.end();
    const std::shared_ptr<TapSession> session = m_session;
    tearDown();
    // The tap thread calls the trust check and posts to the main queue, and it owns an X
    // connection: none of that may outlive the key tap. A cancelled session answers at its
    // next loop round, so this waits only for a trust check that is under way.
    if (session)
        session->waitUntilEnded(TapSession::startTimeout);
}

void KeyTap::setHoldKey(HoldKey key) {
    if (key == m_holdKey)
        return;
    m_holdKey = key;
    m_reportedInvisible.reset();
    if (!m_session)
        return;
    // The session takes the key on its thread; the hold state stays as it is.
    m_session->setHoldKey(key);
    refuseInvisibleKey();
}

bool KeyTap::refuseInvisibleKey() {
    if (!m_system.canSee || m_system.canSee(m_holdKey))
        return false;
    if (m_reportedInvisible != m_holdKey) {
        m_reportedInvisible = m_holdKey;
        CoreLog::write("KeyTap: " + std::string(toString(m_holdKey)) +
                       " is not visible on this system; choose another hold key");
    }
    return true;
}

bool KeyTap::start() {
    if (m_isRunning)
        return true;
    if (!m_system.isTrusted()) {
        CoreLog::write("KeyTap: not started, Accessibility not granted");
        return false;
    }
    if (refuseInvisibleKey())
        return false;

    m_sessionCount += 1;
    const std::uint64_t id = m_sessionCount;
    auto send = [alive = m_alive.token(), self = this, id](TapSession::Message message) {
        MainQueue::post([alive, self, id, message = std::move(message)] {
            if (alive)
                self->receive(message, id);
        });
    };
    auto session =
        std::make_shared<TapSession>(id, HoldKeySpec::of(m_holdKey), trustPoll, m_system.isTrusted,
                                     m_escapeWatch, m_system.makeSource(), std::move(send));
    if (!session->begin()) {
        CoreLog::write("KeyTap: not started, the event tap could not be created");
        return false;
    }
    m_session = std::move(session);
    m_isRunning = true;
    m_isHandsFree = false;

    if (m_system.workspace) {
        m_sleepObserver = m_system.workspace->addObserver(
            SystemNotification::willSleep, [alive = m_alive.token(), self = this] {
                if (alive && self->m_session)
                    self->m_session->systemWillSleep(Clock::uptime());
            });
    }
    CoreLog::write("KeyTap: started (" + std::string(toString(m_holdKey)) + ")");
    return true;
}

void KeyTap::stop() {
    const bool existed = m_session != nullptr;
    tearDown();
    if (existed)
        CoreLog::write("KeyTap: stopped");
}

void KeyTap::tearDown() {
    if (m_session) {
        m_session->cancel();
        m_session.reset();
    }
    m_isRunning = false;
    m_isHandsFree = false;
    m_isCapturing = false;
    if (m_sleepObserver && m_system.workspace)
        m_system.workspace->removeObserver(*m_sleepObserver);
    m_sleepObserver.reset();
}

void KeyTap::setHandsFree(bool on) {
    m_isHandsFree = m_session && m_isRunning ? on : false;
    if (m_session)
        m_session->setHandsFree(on);
}

bool KeyTap::beginCapture() {
    if (m_session && m_isRunning) {
        m_isCapturing = true;
        m_session->setCapturing(TapSession::Capturing::on);
        CoreLog::write("KeyTap: key capture on");
        return true;
    }
    CoreLog::write("KeyTap: no key capture, the tap is not running");
    return false;
}

void KeyTap::endCapture() {
    if (!m_isCapturing)
        return;
    m_isCapturing = false;
    if (m_session)
        m_session->setCapturing(TapSession::Capturing::off);
    CoreLog::write("KeyTap: key capture off");
}

void KeyTap::receive(const TapSession::Message& message, std::uint64_t id) {
    // A message of an older session is late and means nothing now.
    if (!m_session || m_session->id() != id)
        return;
    std::visit(
        [this](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, TapSession::HoldKeyMessage>) {
                if (onHoldKeyChange)
                    onHoldKeyChange(m.down, m.at);
            } else if constexpr (std::is_same_v<M, TapSession::OutputsMessage>) {
                deliver(m.outputs, Delivery::whileSessionStays);
            } else if constexpr (std::is_same_v<M, TapSession::EscapeWatchedMessage>) {
                if (onEscapeWatched)
                    onEscapeWatched(m.t);
            } else if constexpr (std::is_same_v<M, TapSession::TrustLostMessage>) {
                tearDown();
                CoreLog::write("KeyTap: Accessibility lost, the tap is removed");
                // The key tap has already stopped; a running dictation still hears the cancel.
                deliver(m.outputs, Delivery::whole);
            } else if constexpr (std::is_same_v<M, TapSession::CaptureMessage>) {
                receiveCapture(m.result);
            }
        },
        message);
}

void KeyTap::deliver(const std::vector<HoldMachine::Output>& outputs, Delivery delivery) {
    using Kind = HoldMachine::Output::Kind;
    const std::shared_ptr<TapSession> session = m_session;
    for (const auto& output : outputs) {
        // A callback may have stopped or replaced the session: the rest is not delivered.
        if (delivery == Delivery::whileSessionStays && m_session != session)
            return;
        switch (output.kind) {
        case Kind::press:
            if (onPress)
                onPress(output.t);
            break;
        case Kind::release:
            if (onRelease)
                onRelease(output.t);
            break;
        case Kind::cancel:
            if (onCancel)
                onCancel(output.reason, output.t);
            break;
        case Kind::doubleTap:
            if (onDoubleTap)
                onDoubleTap(output.t);
            break;
        case Kind::stop:
            m_isHandsFree = false;
            if (onStop)
                onStop(output.t);
            break;
        case Kind::escape:
            m_isHandsFree = false;
            if (onEscape)
                onEscape(output.t);
            break;
        }
    }
}

void KeyTap::receiveCapture(const KeyCaptureResult& result) {
    if (!m_isCapturing)
        return;
    switch (result.kind()) {
    case KeyCaptureResult::Kind::accepted:
        m_isCapturing = false;
        CoreLog::write("KeyTap: key capture took " + std::string(toString(*result.key())));
        break;
    case KeyCaptureResult::Kind::rejected:
        CoreLog::write("KeyTap: key capture refused a key (" +
                       std::string(toString(*result.reason())) + ")");
        break;
    case KeyCaptureResult::Kind::cancelled:
        m_isCapturing = false;
        CoreLog::write("KeyTap: key capture cancelled (Esc)");
        break;
    }
    if (onCapture)
        onCapture(result);
}

} // namespace talverin
