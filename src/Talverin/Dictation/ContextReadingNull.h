#pragma once

#include "TalverinCore/ContextReading.h"

#include <string>
#include <utility>

namespace talverin {

// The context reader of a desktop without an accessibility bus: no field can be read, so every
// dictation goes on with an unknown context. `reason` says why, for the launch log.
class ContextReadingNull final : public ContextReading {
public:
    explicit ContextReadingNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    DictationContext read(int) override { return DictationContext::unknown(); }

private:
    std::string m_reason;
};

} // namespace talverin
