#include "TokenSampler.h"

#include <cmath>

namespace speech {

TokenSampler::TokenSampler(const KernelSet& kernels, uint64_t seed) : k_(kernels) { reseed(seed); }

void TokenSampler::reseed(uint64_t seed) { state_ = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull; }

double TokenSampler::uniform() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return double(z >> 11) * 0x1p-53;
}

TokenSampler::Pick TokenSampler::pick(const float* logits, int n, float temperature) {
    int64_t argmax = 0;
    const float lse = k_.logSumExp(logits, n, &argmax);
    Pick p;
    p.token = int(argmax);
    if (temperature > 0) {
        weights_.resize(std::size_t(n));
        const double top = logits[argmax], inv = 1.0 / double(temperature);
        double total = 0;
        for (int i = 0; i < n; ++i) total += weights_[i] = std::exp((double(logits[i]) - top) * inv);
        double r = uniform() * total;
        for (int i = 0; i < n; ++i) {
            if (weights_[i] <= 0) continue;
            p.token = i;  // the last token with weight when rounding leaves r over
            if ((r -= weights_[i]) < 0) break;
        }
    }
    p.logprob = double(logits[p.token] - lse);
    return p;
}

}  // namespace speech
