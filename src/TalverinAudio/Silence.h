#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace talverin {

// Whether a clip holds speech, judged on the loudness of 0.1 s frames against the quietest
// frame within 3 s around each, so that steady room noise never counts as speech however
// loud it is.
namespace Silence {

inline constexpr double frame = 0.1;              // seconds in one analysis frame
inline constexpr std::size_t frameSamples = 1600; // samples in one frame at 16 kHz
inline constexpr float minRMS = 0.004f;           // a frame at or below this is never speech
inline constexpr float noiseFactor = 3;           // times the local floor a frame must exceed
inline constexpr std::size_t floorWindow = 30;    // frames on each side searched for the floor
inline constexpr std::size_t minSpeechFrames = 2; // speech frames a clip needs

// Strictly louder than both noiseFactor × floor and minRMS.
bool isSpeechFrame(float rms, float floor);
// One flag per frame, in order.
std::vector<bool> speechFrames(std::span<const float> frameRMS);
// The whole decision for a finished clip of 16 kHz samples.
bool isSpeech(std::span<const float> samples);

} // namespace Silence

} // namespace talverin
