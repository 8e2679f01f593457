#pragma once

#include "TalverinSpeech/DraftChannelNull.h"
#include "TalverinSpeech/DraftEngine.h"

#include <memory>
#include <string>
#include <utility>

namespace talverin {

// An engine for a locale whose recogniser cannot run: every channel it begins recognises
// nothing. `reason` says why, for the launch log.
class DraftEngineNull final : public DraftEngine {
public:
    DraftEngineNull(std::string localeId, std::string reason)
        : m_localeId(std::move(localeId)), m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    const std::string& localeId() const override { return m_localeId; }
    const DraftAudioFormat& format() const override { return m_format; }
    UtteranceRestarts utteranceRestarts() const override { return UtteranceRestarts::never; }
    std::unique_ptr<DraftChannel> begin(const std::vector<std::string>&,
                                        std::function<void(DraftEvent)> onEvent) override {
        return std::make_unique<DraftChannelNull>(std::move(onEvent));
    }

private:
    std::string m_localeId;
    std::string m_reason;
    DraftAudioFormat m_format;
};

} // namespace talverin
