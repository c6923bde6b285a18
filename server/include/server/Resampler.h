// Band-limited sample-rate conversion (windowed sinc), used to bring any WAV to 16 kHz.
#pragma once

#include <vector>

namespace server {

class Resampler {
public:
    // Converts `input` sampled at `inRate` Hz to `outRate` Hz. Both rates must be positive.
    // Downsampling filters out everything above the new Nyquist frequency first.
    static std::vector<float> convert(const std::vector<float>& input, int inRate, int outRate);
};

}  // namespace server
