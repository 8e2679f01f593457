#pragma once

#include <cstdint>
#include <string>

namespace talverin {

// Why the microphone could not be prepared or started. The dictation controller logs the
// description and hands the error on to the shell, which only re-reads the permissions; no
// caller takes the error apart.
class MicError {
public:
    enum class Kind {
        device,        // selecting the input device failed with a platform status
        engine,        // the audio engine did not start
        notAuthorized, // the user has not allowed the microphone
        noInput,       // there is no usable input device
    };

    static MicError device(std::int32_t status) { return MicError(Kind::device, status, {}); }
    static MicError engine(std::string text) { return MicError(Kind::engine, 0, std::move(text)); }
    static MicError notAuthorized() { return MicError(Kind::notAuthorized, 0, {}); }
    static MicError noInput() { return MicError(Kind::noInput, 0, {}); }

    Kind kind() const { return m_kind; }
    // The platform status of a device error; 0 for the other cases.
    std::int32_t status() const { return m_status; }
    // The text of an engine error; empty for the other cases.
    const std::string& text() const { return m_text; }

    // The error's textual form, as log lines quote it.
    std::string description() const {
        switch (m_kind) {
        case Kind::device:
            return "device selection failed (" + std::to_string(m_status) + ")";
        case Kind::engine:
            return "engine start failed (" + m_text + ")";
        case Kind::notAuthorized:
            return "microphone not authorized";
        case Kind::noInput:
            return "no input device";
        }
        return {};
    }

    bool operator==(const MicError&) const = default;

private:
    MicError(Kind kind, std::int32_t status, std::string text)
        : m_kind(kind), m_status(status), m_text(std::move(text)) {}

    Kind m_kind;
    std::int32_t m_status;
    std::string m_text;
};

} // namespace talverin
