#pragma once

#include "TalverinCore/Dictating.h"

#include <string>
#include <utility>

namespace talverin {

// Cloud dictation when no client can be built (no HTTP library): never configured, so the
// controller keeps to the on-device draft; a dictation asked for anyway answers notConfigured
// at once. `reason` says why, for the launch log.
class DictatingNull final : public Dictating {
public:
    explicit DictatingNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    bool isConfigured() const override { return false; }
    void warmUp() override {}
    Future<DictateReply> dictate(DictateRequest) override {
        return Future<DictateReply>::ready(DictateError::notConfigured());
    }

private:
    std::string m_reason;
};

} // namespace talverin
