#pragma once

#include <string>

namespace talverin {

// Hands a link to the user's default browser or mail program.
class UrlOpening {
public:
    virtual ~UrlOpening() = default;
    // Main thread. Answers false when nothing could open it (no desktop, no handler).
    virtual bool open(const std::string& url) = 0;
};

// No desktop to hand links to: every link stays unopened, and says why.
class UrlOpeningNull final : public UrlOpening {
public:
    explicit UrlOpeningNull(std::string reason) : m_reason(std::move(reason)) {}
    const std::string& reason() const { return m_reason; }
    bool open(const std::string&) override { return false; }

private:
    std::string m_reason;
};

} // namespace talverin
