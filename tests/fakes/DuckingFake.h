#pragma once

#include "TalverinCore/Ducking.h"
#include "fakes/CallLog.h"

namespace talverin::test {

// A ducker that records its calls and whether other audio would be lowered now.
class DuckingFake final : public Ducking {
public:
    CallLog log;

    void duck() override {
        log.record("duck");
        m_ducked = true;
    }
    void restore() override {
        log.record("restore");
        m_ducked = false;
    }
    void restoreImmediately() override {
        log.record("restoreImmediately");
        m_ducked = false;
    }

    bool isDucked() const { return m_ducked; }

private:
    bool m_ducked = false;
};

} // namespace talverin::test
