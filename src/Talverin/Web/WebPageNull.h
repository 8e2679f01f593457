#pragma once

#include "Talverin/Web/WebPage.h"

#include <string>
#include <utility>

namespace talverin {

// The page of a desktop without a web engine (no display, or WebKitGTK cannot start): scripts go
// nowhere and there is no handler to remove. `reason` says why, for the launch log.
class WebPageNull final : public WebPage {
public:
    explicit WebPageNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    void evaluate(const std::string&) override {}
    void removeMessageHandler() override {}

private:
    std::string m_reason;
};

} // namespace talverin
