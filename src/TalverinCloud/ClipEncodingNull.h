#pragma once

#include "TalverinCore/ClipEncoding.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talverin {

// The clip encoder when no encoder can be had: it keeps nothing and finishes with no bytes.
// With it the cloud has no audio to recognise, so the composition root that picks it leaves
// the dictation to the on-device draft.
class ClipEncodingNull final : public ClipEncoding {
public:
    explicit ClipEncodingNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    void append(const MicBuffer&) override {}
    std::vector<std::uint8_t> finish() override { return {}; }
    void cancel() override {}

private:
    std::string m_reason;
};

} // namespace talverin
