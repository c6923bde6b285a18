// The Whisper forward pass on a memory-mapped model: log-mel front end, encoder, decoder
// with a key/value cache and cross-attention keys/values computed once per window, and the
// decoding of whole recordings. Internal to the library; tests and benchmarks use it directly.
#pragma once

#include "HugePageBuffer.h"
#include "Kernels.h"
#include "ModelFile.h"
#include "ThreadPool.h"
#include "Tokenizer.h"
#include "WindowDecoder.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace speech {

class MappedFile;

// A weight matrix as stored in the file (rows x cols, row-major, f32 or f16).
struct Weight {
    const void* data = nullptr;
    bool half = false;
    int64_t rows = 0, cols = 0;
};

// A weight packed once, when the model is loaded, into the panels the matrix products read:
// f16 panels for an f16 weight (no more memory than in the file), f32 panels otherwise.
struct Panels {
    const void* data = nullptr;
    bool half = false;
    int64_t n = 0, k = 0;  // output columns (the weight's rows) and the inner dimension
};

struct StageTimes {
    double melMs = 0, encoderMs = 0, crossMs = 0, decoderMs = 0;
    int decodedTokens = 0;  // decoder steps run, prompt included
    int windows = 0;
    int fallbackWindows = 0;  // windows decoded again at higher temperatures
    int fallbackDecodes = 0;  // decodings after the greedy ones
    double fallbackMs = 0;    // their time (part of decoderMs)
};

class WhisperEngine {
public:
    static constexpr int kSampleRate = 16000;
    static constexpr int kWindowSamples = 480000;
    static constexpr int kFrames = 3000;

    WhisperEngine(const std::string& path, int threads);
    ~WhisperEngine();

    const HyperParams& hp() const { return file_.hp; }
    const Tokenizer& tokenizer() const { return *tok_; }
    const KernelSet& kernelSet() const { return k_; }
    int threads() const { return pool_.size(); }

    // 3000 x n_mels, frame-major. `count` samples (at most one window), zero padded.
    void logMel(const float* samples, std::size_t count, float* mel);
    // 1500 x n_audio_state encoder output from a frame-major mel.
    void encode(const float* mel, float* out);
    // Prepares the decoder for one window: cross-attention keys and values, empty cache.
    void beginDecode(const float* encoderOut);
    // Feeds one token at the next position; returns the logits (n_vocab) it predicts next.
    const float* step(int token);
    int position() const { return pos_; }
    // Goes back to an earlier position of the same window; the cache before it stays valid.
    void rewind(int position) { pos_ = position < 0 ? 0 : position < pos_ ? position : pos_; }

    // Greedy decoding of one window already passed to beginDecode, without context or
    // fallback. `language` is a code, "auto" (detect) or "" (same as auto).
    DecodeResult decodeGreedy(const std::string& language, int maxTokens = -1);

    // Whole recording: windows of up to 30 s cut in pauses (WindowCutter), each decoded with
    // the previous window's text as context and the fallback of the decode options; times
    // accumulate into `times` if given.
    std::vector<DecodeResult> transcribe(const float* samples, std::size_t count, const std::string& language,
                                         StageTimes* times = nullptr);

    void setDecodeOptions(const DecodeOptions& options) { decodeOptions_ = options; }
    const DecodeOptions& decodeOptions() const { return decodeOptions_; }

    // Encodes only the first `positions` encoder positions (2 x as many mel frames) of each
    // window instead of all 1500; 0 restores the full window. Faster for short phrases, but
    // the released models were trained on whole windows: an option for measurements only.
    void setAudioContext(int positions);
    int audioContext() const { return curT_; }

    // Encoder-output buffer of the right size, for callers of encode().
    std::vector<float> encoderBuffer() const;

private:
    struct Layer;
    struct DecLayer;

    void gemmPacked(int64_t m, const float* a, int64_t lda, const Panels& w, float* c, int64_t ldc,
                    const float* bias, int flags);
    void packWeight(const Weight& w, void* dst);
    void packEncoderWeights();
    void layerNormRows(int64_t m, const float* x, int64_t d, const std::vector<float>& w,
                       const std::vector<float>& b, float* out);
    void selfAttention(const float* q, const float* k, const float* v, int64_t ld, float* out);
    // Products of the given matrices with vectors, all in one job; each piece of rows then
    // goes through gelu, or is added into `residual`, if asked.
    void matvecs(std::initializer_list<std::tuple<const Weight*, const float*, const float*, float*>> jobs,
                 bool gelu = false, float* residual = nullptr);
    void moveDecoderWeights();

    std::unique_ptr<MappedFile> map_;
    ModelFile file_;
    std::unique_ptr<Tokenizer> tok_;
    const KernelSet& k_;
    ThreadPool pool_;

    std::vector<std::unique_ptr<Layer>> enc_;
    std::vector<std::unique_ptr<DecLayer>> dec_;
    std::vector<float> encPos_, decPos_, conv1b_, conv2b_, lnPostW_, lnPostB_, lnW_, lnB_;
    Weight conv1_, conv2_, tokEmb_;
    Panels conv1P_, conv2P_;
    HugePageBuffer panels_;  // every weight of the encoder and the cross-attention keys/values

    // Front end.
    std::vector<float> window_, dftPacked_, melPacked_, frames_, spectrum_, power_;
    // Encoder work space.
    std::vector<float> im2col_, h1_, x_, y_, q_, kk_, v_, att_, hidden_, kPack_, vPack_;
    // Decoder state.
    // Cross-attention keys and values in f16, per layer and head a positions x head-width
    // block: they are read in full for every token, and large-v3 has to fit in about 3.5 GB.
    HugePageBuffer crossBuf_;
    uint16_t* crossK_ = nullptr;
    uint16_t* crossV_ = nullptr;
    HugePageBuffer decoderWeights_;
    std::vector<float> selfK_, selfV_;
    std::vector<float> dx_, dy_, dq_, dk_, dv_, datt_, dtmp_, dhid_, logits_;
    static constexpr int64_t kCrossParts = 8;  // at most, per head
    std::vector<float> crossLse_, crossPart_;   // per head and part: log-sum-exp, output
    std::vector<float> melBuf_, encBuf_;
    DecodeOptions decodeOptions_;
    int pos_ = 0;
    int64_t npad1500_ = 0;
    int audioCtx_ = 0;  // 0: whole window
    int curT_ = 0;      // encoder positions of the window being decoded
};

}  // namespace speech
