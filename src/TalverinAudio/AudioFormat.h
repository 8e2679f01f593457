#pragma once

namespace talverin {

// The shape of a stream of samples: how many per second and how many channels. Samples are
// always 32-bit floats; device audio is interleaved.
struct AudioFormat {
    double sampleRate = 0;
    int channels = 0;

    bool operator==(const AudioFormat&) const = default;
};

} // namespace talverin
