#pragma once

#include <string>
#include <utility>

namespace talverin {

// What every Null backend and service of the sound system says about itself: why the real one
// is not there. The composition root logs it when it picks the Null.
class Unavailable {
public:
    static constexpr const char* noServer = "no sound server";

    explicit Unavailable(std::string reason = noServer) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

private:
    std::string m_reason;
};

} // namespace talverin
