#pragma once

#include <string>
#include <utility>

namespace talverin {

// What every Null backend of this module carries: why the real one could not be had ("no
// display", "no session bus", "no sound server"), so that the composition root can log its
// choice and the settings can say why something does not work.
class Unavailable {
public:
    explicit Unavailable(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

private:
    std::string m_reason;
};

} // namespace talverin
