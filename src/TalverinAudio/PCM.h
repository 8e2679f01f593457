#pragma once

#include "TalverinAudio/AudioFormat.h"

namespace talverin {

// The one format of every clip and every block the microphone hands on: 16 kHz mono 32-bit
// float, whatever the input device delivers.
namespace PCM {

inline constexpr double sampleRate = 16000;
inline constexpr AudioFormat format{sampleRate, 1};

} // namespace PCM

} // namespace talverin
