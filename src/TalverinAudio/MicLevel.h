#pragma once

#include <span>

namespace talverin {

// The loudness of a block as the pill's meter shows it: -55 dBFS and below is an empty meter,
// -10 dBFS and above a full one, linear in decibels between.
namespace MicLevel {

inline constexpr float floorDB = -55;
inline constexpr float ceilingDB = -10;

// 0 to 1; 0 for an RMS that is not a positive finite number.
float level(float rms);
// The level of the samples' RMS; 0 for no samples.
float level(std::span<const float> samples);

} // namespace MicLevel

} // namespace talverin
