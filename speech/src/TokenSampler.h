// Picks the next token from logits already suppressed: the most likely one at temperature 0,
// otherwise a draw from softmax(logits / T) with its own seeded generator, so that a decoding
// at a given temperature and seed repeats exactly.
#pragma once

#include "Kernels.h"

#include <cstdint>
#include <vector>

namespace speech {

class TokenSampler {
public:
    struct Pick {
        int token = 0;
        double logprob = 0;  // log-probability under the unscaled logits
    };

    explicit TokenSampler(const KernelSet& kernels, uint64_t seed = 0);

    void reseed(uint64_t seed);
    Pick pick(const float* logits, int n, float temperature);

private:
    double uniform();  // [0, 1)

    const KernelSet& k_;
    uint64_t state_ = 0;
    std::vector<double> weights_;
};

}  // namespace speech
