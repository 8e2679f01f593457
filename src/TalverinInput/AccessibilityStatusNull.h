#pragma once

#include "TalverinInput/AccessibilityStatusReading.h"

#include "TalverinInput/Unavailable.h"

#include <string>

namespace talverin {

// The accessibility status of a system without an accessibility bus (no session bus): never
// known, never enabled, and switching it on is refused.
class AccessibilityStatusNull final : public AccessibilityStatusReading, public Unavailable {
public:
    explicit AccessibilityStatusNull(std::string reason) : Unavailable(std::move(reason)) {}

    BusStatus status() const override { return BusStatus::unknown; }
    void refresh() override {}
    // There is nothing to wait for.
    void whenFirstRead(std::function<void()> then) override { then(); }
    Enabling requestEnable() override {
        return fail(AccessibilityEnableError::unavailable, reason());
    }
};

} // namespace talverin
