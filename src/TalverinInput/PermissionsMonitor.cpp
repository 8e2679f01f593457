#include "TalverinInput/PermissionsMonitor.h"

#include "Runtime/MainQueue.h"
#include "TalverinCore/CoreLog.h"

#include <string>

namespace talverin {

using Wire::PermissionKind;
using Wire::PermissionState;

PermissionsMonitor::PermissionsMonitor(std::shared_ptr<PermissionReading> reader, double fastPoll,
                                       double slowPoll,
                                       std::shared_ptr<NotificationCenter> accessibilityCenter,
                                       std::shared_ptr<NotificationCenter> appCenter,
                                       std::shared_ptr<NotificationCenter> workspaceCenter,
                                       std::function<double()> clock, SettingsOpener openSettings)
    : m_current(reader->current()), m_reader(std::move(reader)), m_fast(fastPoll), m_slow(slowPoll),
      m_accessibilityCenter(std::move(accessibilityCenter)), m_appCenter(std::move(appCenter)),
      m_workspaceCenter(std::move(workspaceCenter)), m_clock(std::move(clock)),
      m_openSettings(std::move(openSettings)) {}

PermissionsMonitor::~PermissionsMonitor() {
    m_alive.end();
    stop();
}

void PermissionsMonitor::observe(const std::shared_ptr<NotificationCenter>& center,
                                 std::string_view name, void (PermissionsMonitor::*action)()) {
    if (!center)
        return;
    auto token =
        center->addObserver(name, [alive = m_alive.token(), self = this, action] {
            if (alive)
                (self->*action)();
        });
    m_bag.observers.emplace_back(token, center);
}

void PermissionsMonitor::start() {
    if (m_isWatching)
        return;
    m_isWatching = true;
    observe(m_accessibilityCenter, accessibilityNotification,
            &PermissionsMonitor::accessibilityListChanged);
    observe(m_accessibilityCenter, microphoneNotification, &PermissionsMonitor::refreshFromNotice);
    observe(m_appCenter, SystemNotification::didBecomeActive,
            &PermissionsMonitor::refreshFromNotice);
    observe(m_workspaceCenter, SystemNotification::didWake, &PermissionsMonitor::refreshFromNotice);
    refresh();
    schedulePoll();
}

void PermissionsMonitor::stop() {
    if (!m_isWatching)
        return;
    m_isWatching = false;
    for (auto& [token, center] : m_bag.observers)
        center->removeObserver(token);
    m_bag.observers.clear();
    m_bag.timer = 0;
    // A later start() schedules a timer again.
    m_pollInterval = 0;
}

void PermissionsMonitor::accessibilityListChanged() {
    refresh();
    for (double delay : notificationDelays) {
        MainQueue::after(delay, [alive = m_alive.token(), self = this] {
            if (alive && self->m_isWatching)
                self->refresh();
        });
    }
}

Wire::Permissions PermissionsMonitor::refresh() {
    const Wire::Permissions fresh = m_reader->current();
    if (fresh != m_current) {
        const Wire::Permissions old = m_current;
        m_current = fresh;
        for (const Change& change : changes(old, fresh))
            CoreLog::write("Permissions: " + std::string(toString(change.kind)) + " " +
                           std::string(toString(change.from)) + " \u2192 " +
                           std::string(toString(change.to)));
        if (onChange)
            onChange(fresh, old);
    }
    if (m_isWatching)
        schedulePoll();
    return fresh;
}

double PermissionsMonitor::pollInterval(const Wire::Permissions& permissions, bool boosted,
                                        double fast, double slow) {
    if (permissions.accessibility != PermissionState::granted || boosted)
        return fast;
    return slow;
}

std::vector<PermissionsMonitor::Change> PermissionsMonitor::changes(const Wire::Permissions& from,
                                                                    const Wire::Permissions& to) {
    std::vector<Change> list;
    for (PermissionKind kind : allCases<PermissionKind>())
        if (from[kind] != to[kind])
            list.push_back(Change{kind, from[kind], to[kind]});
    return list;
}

void PermissionsMonitor::schedulePoll() {
    const bool boosted = m_clock() < m_boostUntil;
    const double interval = pollInterval(m_current, boosted, m_fast, m_slow);
    // The running timer stays when its period is still right.
    if (interval == m_pollInterval)
        return;
    m_pollInterval = interval;
    // The previous timer's chain ends at its next firing, which finds a newer generation.
    m_bag.timer = ++m_timerGenerations;
    scheduleTick(m_bag.timer, Clock::uptime() + interval);
}

// A repeating timer on the main queue. Each firing is due one period after the previous due
// time, not after the firing itself, so a late firing does not shift the ones after it. The poll
// may be up to 20 % late; the main queue has no such tolerance and simply fires on time.
void PermissionsMonitor::scheduleTick(std::uint64_t generation, double due) {
    MainQueue::after(due - Clock::uptime(),
                     [alive = m_alive.token(), self = this, generation, due] {
                         if (!alive || self->m_bag.timer != generation)
                             return;
                         double next = due + self->m_pollInterval;
                         const double now = Clock::uptime();
                         if (next <= now)
                             next = now + self->m_pollInterval;
                         self->scheduleTick(generation, next);
                         self->refresh();
                     });
}

Future<PermissionState> PermissionsMonitor::request(PermissionKind kind) {
    m_boostUntil = m_clock() + boostWindow;
    if (m_isWatching)
        schedulePoll();
    Promise<PermissionState> answer;
    Permissions::request(kind, *m_reader)
        .then([alive = m_alive.token(), self = this,
               answer](const PermissionState& state) {
            // The answer is the reader's, even when the states read now say otherwise.
            if (alive)
                self->refresh();
            answer.resolve(state);
        });
    return answer.future();
}

void PermissionsMonitor::openPane(PermissionKind kind) {
    m_boostUntil = m_clock() + boostWindow;
    if (m_isWatching)
        schedulePoll();
    Permissions::openPane(kind, m_openSettings);
}

} // namespace talverin
