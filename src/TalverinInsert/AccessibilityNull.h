#pragma once

#include "TalverinInsert/AccessibilityBackend.h"

#include <string>

namespace talverin {

// The accessibility backend when the desktop has no accessibility service (no display, no
// accessibility bus). Untrusted, with no elements: readers answer "untrusted" and the inserter
// refuses, which tells the user the truth.
class AccessibilityNull final : public AccessibilityBackend {
public:
    explicit AccessibilityNull(std::string reason) : m_reason(std::move(reason)) {}

    // Why no real backend runs, for the launch log.
    const std::string& reason() const { return m_reason; }

    bool isProcessTrusted() override { return false; }
    AXElement systemWide() override { return nullptr; }
    AXElement applicationElement(std::int32_t) override { return nullptr; }
    std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
    std::optional<RunningApplication> runningApplication(std::int32_t) override {
        return std::nullopt;
    }
    void setMessagingTimeout(const AXElement&, float) override {}
    AXReply<std::int32_t> pid(const AXElement&) override { return {AXError::apiDisabled, 0}; }
    AXReply<AXAttributeValue> copy(const AXElement&, const std::string&) override {
        return {AXError::apiDisabled, {}};
    }
    AXReply<std::optional<std::vector<AXAttributeValue>>>
    copyMultiple(const AXElement&, const std::vector<std::string>&) override {
        return {AXError::apiDisabled, std::nullopt};
    }
    AXReply<AXAttributeValue> copyParameterized(const AXElement&, const std::string&,
                                                const AXAttributeValue&) override {
        return {AXError::apiDisabled, {}};
    }
    AXReply<bool> isSettable(const AXElement&, const std::string&) override {
        return {AXError::apiDisabled, false};
    }
    int set(const AXElement&, const std::string&, const AXAttributeValue&) override {
        return AXError::apiDisabled;
    }
    double mainDisplayHeight() override { return 0; }

private:
    std::string m_reason;
};

} // namespace talverin
