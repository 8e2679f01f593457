#pragma once

#include "TalverinCore/LanguageRecognizing.h"

#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// The language recogniser when none can run: it never names a language, so the language guard
// never replaces a cloud answer and every answer goes in as the cloud wrote it.
class LanguageRecognizingNull final : public LanguageRecognizing {
public:
    explicit LanguageRecognizingNull(std::string reason) : m_reason(std::move(reason)) {}

    // Why there is no recogniser.
    const std::string& reason() const { return m_reason; }

    std::optional<std::string> dominantLanguage(std::string_view) const override {
        return std::nullopt;
    }

private:
    std::string m_reason;
};

} // namespace talverin
