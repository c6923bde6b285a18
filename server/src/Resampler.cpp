#include "server/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <stdexcept>

namespace server {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kZeroCrossings = 16;   // per side of the kernel
constexpr double kPassband = 0.95;   // cutoff as a fraction of the lower Nyquist frequency
constexpr std::uint64_t kMaxPhases = 4096;

double sinc(double x) {
    if (std::abs(x) < 1e-9) return 1.0;
    return std::sin(kPi * x) / (kPi * x);
}

}  // namespace

std::vector<float> Resampler::convert(const std::vector<float>& input, int inRate, int outRate) {
    if (inRate <= 0 || outRate <= 0) throw std::invalid_argument("sample rates must be positive");
    if (inRate == outRate || input.empty()) return input;

    // out/in = up/down in lowest terms; output sample j sits at input position j * down / up.
    const std::uint64_t g = std::gcd(static_cast<std::uint64_t>(inRate), static_cast<std::uint64_t>(outRate));
    const std::uint64_t up = static_cast<std::uint64_t>(outRate) / g;
    const std::uint64_t down = static_cast<std::uint64_t>(inRate) / g;
    const std::uint64_t phases = std::min(up, kMaxPhases);

    // Kernel in input-sample units: cutoff relative to the input's Nyquist frequency.
    const double cutoff = kPassband * std::min(1.0, static_cast<double>(outRate) / inRate);
    const double halfWidth = kZeroCrossings / cutoff;
    const int taps = 2 * static_cast<int>(std::ceil(halfWidth)) + 1;
    const int left = taps / 2;  // kernel index `left` is the input sample at or just before the position

    // One normalised kernel per fractional phase (unit gain at DC), built when first needed:
    // short inputs touch only a few of them.
    std::vector<float> table(phases * taps);
    std::vector<bool> built(phases, false);
    auto kernel = [&](std::uint64_t p) -> const float* {
        float* row = &table[p * taps];
        if (built[p]) return row;
        const double frac = static_cast<double>(p) / phases;
        double sum = 0;
        for (int k = 0; k < taps; ++k) {
            const double d = (k - left) - frac;  // input sample offset minus exact position
            const double u = d / halfWidth;
            double w = 0;
            if (std::abs(u) < 1.0) w = 0.5 * (1.0 + std::cos(kPi * u));
            const double h = cutoff * sinc(cutoff * d) * w;
            row[k] = static_cast<float>(h);
            sum += h;
        }
        if (sum != 0) {
            for (int k = 0; k < taps; ++k) row[k] = static_cast<float>(row[k] / sum);
        }
        built[p] = true;
        return row;
    };

    const std::uint64_t n = input.size();
    const std::uint64_t outCount = n * up / down;
    std::vector<float> out(outCount);
    const auto inSize = static_cast<std::int64_t>(n);
    for (std::uint64_t j = 0; j < outCount; ++j) {
        const std::uint64_t num = j * down;
        const auto base = static_cast<std::int64_t>(num / up);
        const std::uint64_t phase = (num % up) * phases / up;
        const float* row = kernel(phase);
        const std::int64_t first = base - left;
        const int kBegin = static_cast<int>(std::max<std::int64_t>(0, -first));
        const int kEnd = static_cast<int>(std::min<std::int64_t>(taps, inSize - first));
        float acc = 0;
        for (int k = kBegin; k < kEnd; ++k) acc += row[k] * input[first + k];
        out[j] = acc;
    }
    return out;
}

}  // namespace server
