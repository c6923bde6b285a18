#include "WindowCutter.h"

#include <algorithm>
#include <vector>

namespace speech {

std::size_t WindowCutter::windowEnd(const float* samples, std::size_t count, std::size_t start) {
    if (start >= count || count - start <= kLimit) return count;
    const std::size_t limit = start + kLimit;
    const std::size_t frames = kLimit / kFrame;
    std::vector<double> energy(frames);
    double total = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        const float* s = samples + start + f * kFrame;
        double sum = 0, squares = 0;
        for (std::size_t i = 0; i < kFrame; ++i) sum += s[i], squares += double(s[i]) * s[i];
        // Around the frame's mean: a DC offset of the microphone is no sound.
        energy[f] = std::max(0.0, squares / double(kFrame) - (sum / double(kFrame)) * (sum / double(kFrame)));
        total += energy[f];
    }
    const double quiet = total / double(frames) * kQuietRatio;
    if (quiet <= 0) return limit;  // nothing but digital silence: any cut is as good

    // The quietest stretch of kPauseFrames in the search area; on a tie the later one.
    const std::size_t first = frames - kSearch / kFrame;
    double sum = 0;
    for (std::size_t f = first; f < first + kPauseFrames; ++f) sum += energy[f];
    double best = sum;
    std::size_t bestAt = first;
    for (std::size_t f = first + kPauseFrames; f < frames; ++f) {
        sum += energy[f] - energy[f - kPauseFrames];
        if (sum <= best) best = sum, bestAt = f + 1 - kPauseFrames;
    }
    if (best / double(kPauseFrames) > quiet) return limit;

    // Cut in the middle of the whole pause around that stretch (within the search area), so
    // both windows keep a margin of silence next to the words.
    std::size_t lo = bestAt, hi = bestAt + kPauseFrames;
    while (lo > first && energy[lo - 1] <= quiet) --lo;
    while (hi < frames && energy[hi] <= quiet) ++hi;
    return start + (lo + hi) / 2 * kFrame;
}

}  // namespace speech
