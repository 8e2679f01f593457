#pragma once

#include "TalverinCore/PermissionWatching.h"
#include "fakes/CallLog.h"

#include <utility>

namespace talverin::test {

// Permissions the test sets. A request answers the state the test put in place for that kind;
// set() tells the watcher's onChange, as a change seen by the real monitor would.
class PermissionWatchingFake final : public PermissionWatching {
public:
    CallLog log;

    Wire::Permissions current() const override { return m_current; }
    void start() override { log.record("start"); }
    Wire::Permissions refresh() override {
        log.record("refresh");
        return m_current;
    }
    Future<Wire::PermissionState> request(Wire::PermissionKind kind) override {
        log.record("request", std::string(toString(kind)));
        return Future<Wire::PermissionState>::ready(m_current[kind]);
    }
    void openPane(Wire::PermissionKind kind) override {
        log.record("openPane", std::string(toString(kind)));
    }

    void set(Wire::Permissions permissions) {
        Wire::Permissions before = std::exchange(m_current, permissions);
        if (before != m_current && onChange)
            onChange(m_current, before);
    }

private:
    Wire::Permissions m_current;
};

} // namespace talverin::test
