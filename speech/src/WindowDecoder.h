// Decoding of one window whose audio the engine has already encoded (beginDecode): the
// previous window's text as context, the start tokens, the token loop at a temperature, and
// the fallback that decodes again at higher temperatures when the text compresses too well
// (a loop) or is too unlikely.
#pragma once

#include "TokenSampler.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace speech {

class WhisperEngine;

// A window is silence when its no-speech probability is above kNoSpeechThreshold and its
// tokens' average log-probability below kLogprobThreshold; text below the latter alone is
// unlikely, and decoded again.
constexpr float kNoSpeechThreshold = 0.6f;
constexpr float kLogprobThreshold = -1.0f;

struct DecodeOptions {
    bool fallback = true;                          // decode again at higher temperatures
    float compressionRatioThreshold = 2.4f;        // above: the text repeats itself
    float logprobThreshold = kLogprobThreshold;    // average token log-probability below: unlikely
    float noSpeechThreshold = kNoSpeechThreshold;  // with a low log-probability: silence
    uint64_t seed = 0;                        // of the sampler at temperatures above 0
};

// One decoding of a window at one temperature, as tried by the fallback.
struct DecodeAttempt {
    float temperature = 0;
    float avgLogprob = 0;
    float compressionRatio = 0;
    std::vector<int> tokens;
    std::vector<int> prefix;  // tokens fed before the first sampled one
};

struct DecodeResult {
    std::vector<int> tokens;  // sampled tokens, end-of-text excluded
    std::string language;
    float noSpeechProb = 0;
    float avgLogprob = 0;
    bool noSpeech = false;  // the no-speech test says silence
    float temperature = 0;  // at which the kept tokens were sampled
    float compressionRatio = 0;
    std::vector<int> prefix;              // tokens fed before the first sampled one
    std::vector<DecodeAttempt> attempts;  // every decoding tried, when the fallback ran
    std::size_t start = 0, end = 0;       // the window's samples in the recording
};

class WindowDecoder {
public:
    // The engine must be at position 0 of a window (just after beginDecode).
    explicit WindowDecoder(WhisperEngine& engine);

    // One decoding: `prompt` (text tokens of the previous window, may be empty) after
    // <|startofprev|>, then the start tokens; `language` a code or "auto"; tokens sampled at
    // `temperature` (0: greedy) with a sampler seeded by `seed`.
    DecodeResult decode(const std::vector<int>& prompt, const std::string& language, float temperature,
                        uint64_t seed, int maxTokens = -1);

    // Greedy decoding, and unless it passes (compression ratio and log-probability within
    // their thresholds) or is silence, again at 0.2, 0.4 ... 1.0: the first decoding that
    // passes is kept, otherwise the one of best log-probability among those that do not
    // repeat themselves (among all when every one does). The prompt is given only below
    // temperature 0.5.
    DecodeResult decodeWithFallback(const std::vector<int>& prompt, const std::string& language,
                                    const DecodeOptions& options, uint64_t seed);

    // Decoder steps run so far, and time spent in decodings after the greedy one.
    int steps() const { return steps_; }
    int fallbackDecodes() const { return fallbackDecodes_; }
    double fallbackMs() const { return fallbackMs_; }

    // UTF-8 length of `text` over the length of its zlib stream (default level).
    static float compressionRatio(const std::string& text);

private:
    const float* feed(int token);

    WhisperEngine& e_;
    TokenSampler sampler_;
    std::vector<int> fed_;  // tokens at the engine's positions 0 .. position()-1
    std::vector<float> work_;
    int steps_ = 0;
    int fallbackDecodes_ = 0;
    double fallbackMs_ = 0;
};

}  // namespace speech
