// Where a long recording is cut into the model's 30 s windows: in the quietest pause of at
// least 0.2 s within the last seconds before the limit, so no word is split between two
// windows; at the limit when the speaker does not pause there.
#pragma once

#include <cstddef>

namespace speech {

class WindowCutter {
public:
    static constexpr std::size_t kLimit = 480000;       // 30 s at 16 kHz
    static constexpr std::size_t kFrame = 160;          // 10 ms energy frames
    static constexpr std::size_t kSearch = 5 * 16000;   // how far before the limit a pause is looked for
    static constexpr std::size_t kPauseFrames = 20;     // 0.2 s
    // A pause is at most this fraction of the window's mean energy (-20 dB).
    static constexpr double kQuietRatio = 0.01;

    // End (exclusive) of the window that starts at `start`: `count` when the rest fits in
    // one window, otherwise a point in (start, start + kLimit].
    static std::size_t windowEnd(const float* samples, std::size_t count, std::size_t start);
};

}  // namespace speech
