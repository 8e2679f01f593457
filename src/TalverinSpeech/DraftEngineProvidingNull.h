#pragma once

#include "TalverinSpeech/DraftEngineProviding.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talverin {

// The engines of a machine without on-device recognition: no language has a recogniser, so
// every dictation goes on with the level meter only. `reason` says why, for the launch log.
class DraftEngineProvidingNull final : public DraftEngineProviding {
public:
    explicit DraftEngineProvidingNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    DraftResolution resolve(const std::vector<std::string>&) override {
        return DraftResolution::noRecognizer();
    }
    std::optional<std::string> chooseLocale(const std::vector<std::string>&) override {
        return std::nullopt;
    }

private:
    std::string m_reason;
};

} // namespace talverin
