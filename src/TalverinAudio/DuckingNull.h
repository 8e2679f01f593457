#pragma once

#include "TalverinAudio/Unavailable.h"
#include "TalverinCore/Ducking.h"

#include <string>
#include <utility>

namespace talverin {

// Ducking when the output cannot be reached: nothing is lowered, so nothing is given back.
class DuckingNull final : public Ducking, public Unavailable {
public:
    explicit DuckingNull(std::string reason) : Unavailable(std::move(reason)) {}

    void duck() override {}
    void restore() override {}
    void restoreImmediately() override {}
};

} // namespace talverin
