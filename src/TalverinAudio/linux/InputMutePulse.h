#pragma once

#include "TalverinAudio/linux/PulseConnection.h"

#include <cstdint>

namespace talverin {

// The input-side device facts the microphone level check asks for at a diagnosis.
namespace InputMutePulse {

// Whether the source is muted or its volume is at zero; false when it cannot be read. Waits
// for at most one bounded answer of the server. Any thread but the connection's own.
bool isMuted(PulseConnection& connection, std::uint32_t source);

// No process can hold a source of the sound server exclusively: always false.
inline bool isHoggedByOther(std::uint32_t /*source*/) {
    return false;
}

} // namespace InputMutePulse

} // namespace talverin
