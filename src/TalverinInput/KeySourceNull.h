#pragma once

#include "TalverinInput/KeySource.h"

#include "TalverinInput/Unavailable.h"

#include <string>

namespace talverin {

// The key source of a system that has none (no display server): it never listens, and
// opening it says why.
class KeySourceNull final : public KeySource, public Unavailable {
public:
    explicit KeySourceNull(std::string reason) : Unavailable(std::move(reason)) {}

    Result<void, KeySourceError> open() override {
        return fail(KeySourceError::unavailable, reason());
    }
    void close() override {}
    // Never reached by a tap session, which stops at the failed open(); returns at once.
    void wait(double) override {}
    void wake() override {}
    void drain(const std::function<void(const TapEvent&)>&) override {}
    bool isKeyDown(std::int64_t) override { return false; }
    void enable() override {}
};

} // namespace talverin
