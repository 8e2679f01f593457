#pragma once

#include "TalverinSpeech/SpeechRecognizers.h"

#include <string>

namespace talverin {

// The recognisers of a machine without one: no locales, so every dictation goes on with the
// level meter only. `reason` says why, for the launch log.
class SpeechRecognizersNull final : public SpeechRecognizers {
public:
    explicit SpeechRecognizersNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    std::vector<std::string> supportedLocales() const override { return {}; }
    int authorizationStatus() const override { return authorized; }
    std::shared_ptr<SpeechRecognizer> recognizer(const std::string&) override { return nullptr; }

private:
    std::string m_reason;
};

} // namespace talverin
