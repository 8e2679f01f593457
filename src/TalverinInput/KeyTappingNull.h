#pragma once

#include "TalverinCore/KeyTapping.h"

#include "TalverinInput/Unavailable.h"

#include <string>

namespace talverin {

// The key tap of a system where no key can be heard (no display server, no accessibility
// bus): it keeps the hold key it is given, never starts and never calls back.
class KeyTappingNull final : public KeyTapping, public Unavailable {
public:
    KeyTappingNull(HoldKey holdKey, std::string reason)
        : Unavailable(std::move(reason)), m_holdKey(holdKey) {}


    HoldKey holdKey() const override { return m_holdKey; }
    void setHoldKey(HoldKey key) override { m_holdKey = key; }
    bool isCapturing() const override { return false; }
    bool beginCapture() override { return false; }
    void endCapture() override {}
    bool watchesEscape() const override { return m_watchesEscape; }
    void setWatchesEscape(bool watches) override { m_watchesEscape = watches; }
    bool isRunning() const override { return false; }
    void setHandsFree(bool) override {}
    bool start() override { return false; }
    void stop() override {}

private:
    HoldKey m_holdKey;
    bool m_watchesEscape = false;
};

} // namespace talverin
