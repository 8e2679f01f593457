#pragma once

#include "TalverinInput/SleepWatching.h"

#include "TalverinInput/Unavailable.h"

#include <string>

namespace talverin {

// The sleep watch of a system that announces no sleep (no system bus): it never posts.
class SleepWatcherNull final : public SleepWatching, public Unavailable {
public:
    explicit SleepWatcherNull(std::string reason) : Unavailable(std::move(reason)) {}

    std::optional<std::string> unavailableReason() const override { return reason(); }
};

} // namespace talverin
