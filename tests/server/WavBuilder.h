// Builds WAV images for tests: any format tag, sample size, rate and channel count, with room
// to corrupt the header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace servertest {

class WavBuilder {
public:
    int formatTag = 1;  // 1 PCM, 3 float, 0xFFFE extensible (then subFormat applies)
    int subFormat = 1;
    int channels = 1;
    int sampleRate = 16000;
    int bits = 16;
    bool extraChunkBeforeFmt = false;  // an odd-sized LIST chunk, to check padding and skipping
    std::int64_t dataSizeOverride = -1;  // written in the data chunk header instead of the real size

    // Interleaved samples in -1..1, encoded in the chosen format.
    std::string build(const std::vector<float>& interleaved) const;

    // A sine of `hz` Hz, `seconds` long, amplitude `amp`, at `rate`.
    static std::vector<float> sine(double hz, double seconds, int rate, double amp = 0.5);
    // 16 kHz mono 16-bit, as the desktop program records.
    static std::string pcm16k(const std::vector<float>& samples);
};

}  // namespace servertest
