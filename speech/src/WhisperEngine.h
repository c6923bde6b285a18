// The Whisper forward pass on a memory-mapped model: log-mel front end, encoder, decoder
// with a key/value cache and cross-attention keys/values computed once per window, and the
// decoding of whole recordings. Internal to the library; tests and benchmarks use it directly.
#pragma once

#include "HugePageBuffer.h"
#include "Kernels.h"
#include "ModelFile.h"
#include "ModelWeights.h"
#include "ProductDriver.h"
#include "ThreadPool.h"
#include "Tokenizer.h"
#include "WindowDecoder.h"
#include "speech/Recognizer.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace speech {

class MappedFile;

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
    // The audio front end: 30 s windows at 16 kHz, a 400-sample Hann-windowed DFT every 160
    // samples (10 ms), 3000 frames per window, two frames per encoder position.
    static constexpr int kSampleRate = 16000;
    static constexpr int kWindowSamples = 480000;
    static constexpr int kFftSize = 400;
    static constexpr int kFreqBins = kFftSize / 2 + 1;
    static constexpr int kHop = 160;
    static constexpr int kFrames = kWindowSamples / kHop;
    static constexpr int kPositions = kFrames / 2;

    // weights: F16 multiplies by the weights as stored (f16 or f32); Q8 converts the products'
    // weights to 8-bit blocks once, here.
    WhisperEngine(const std::string& path, int threads, WeightType weights = WeightType::F16);
    ~WhisperEngine();

    const HyperParams& hp() const { return file_.hp; }
    const Tokenizer& tokenizer() const { return *tok_; }
    const KernelSet& kernelSet() const { return k_; }
    WeightType weightType() const { return weights_; }
    int threads() const { return pool_.size(); }

    // kFrames x n_mels, frame-major. `count` samples (at most one window), zero padded.
    void logMel(const float* samples, std::size_t count, float* mel);
    // kPositions x n_audio_state encoder output from a frame-major mel.
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
    // window instead of all kPositions; 0 restores the full window. Faster for short phrases, but
    // the released models were trained on whole windows: an option for measurements only.
    void setAudioContext(int positions);
    int audioContext() const { return curT_; }

    // Encoder-output buffer of the right size, for callers of encode().
    std::vector<float> encoderBuffer() const;

private:
    void selfAttention(const float* q, const float* k, const float* v, int64_t ld, float* out);
    // With 8-bit weights, the encoder's attention runs in 8 bits too, where the head width is
    // a whole number of blocks.
    bool attentionQ8() const;
    void selfAttentionQ8(const float* q, const float* k, const float* v, int64_t ld, float* out);

    std::unique_ptr<MappedFile> map_;
    ModelFile file_;
    std::unique_ptr<Tokenizer> tok_;
    const KernelSet& k_;
    ThreadPool pool_;
    WeightType weights_;
    ProductDriver products_;
    std::unique_ptr<ModelWeights> w_;

    // Cross-attention keys and values in f16, per layer and head a positions x head-width
    // block: they are read in full for every token, and large-v3 has to fit in about 3.5 GB.
    HugePageBuffer crossBuf_;
    uint16_t* crossK_ = nullptr;
    uint16_t* crossV_ = nullptr;
    // With 8-bit weights (crossQ8), in 8 bits instead, each position's head-width of values in
    // blocks with their scales: keys as the decoder's weight rows, values signed.
    bool crossQ8() const;
    int8_t* crossKq_ = nullptr;
    int8_t* crossVq_ = nullptr;
    float* crossKs_ = nullptr;
    float* crossVs_ = nullptr;
    static constexpr int64_t kCrossParts = 8;  // at most, per head
    // The self-attention cache, n_text_layer x n_text_ctx x dt keys, then as many values: a
    // head's keys lie a row apart, so huge pages spare a page walk per position.
    HugePageBuffer selfCache_;
    float* selfK_ = nullptr;
    float* selfV_ = nullptr;

    // Buffers the forward pass works in, sized when the model is loaded (mel and enc on the
    // first recording) and kept: fresh memory costs a page fault per 4 KiB on first touch.
    // Shapes are rows x columns, row-major;
    // T: encoder positions (n_audio_ctx), d: n_audio_state, dt: n_text_state, H: heads,
    // dh: head width, nr: panel width of the kernels.
    struct WorkSpace {
        // Front end.
        std::vector<float> window;     // kWindowSamples + kFftSize: the samples, reflected kFftSize/2 at each end
        std::vector<float> dftPanels;  // (2 kFreqBins) x kFftSize DFT basis (cosines, then sines), packed; fixed
        std::vector<float> melPanels;  // n_mels x kFreqBins mel filters of the file, packed; fixed
        std::vector<float> spectrum;   // kFrames x (2 kFreqBins): real parts, then imaginary parts
        std::vector<float> power;      // kFrames x kFreqBins
        // Encoder.
        std::vector<float> im2col;     // max(2T x 3 n_mels, T x 3d): conv1 / conv2 inputs, 3 taps per channel
        std::vector<float> conv1;      // 2T x d: conv1 output
        std::vector<float> x;          // T x d: the residual stream
        std::vector<float> y;          // T x d: x after a layer norm
        std::vector<float> q, k, v;    // T x d each: projections, only for layers whose products are not fused
        std::vector<float> att;        // T x d: self-attention output
        std::vector<float> hidden;     // T x 4d: MLP hidden; also T x 3d fused q|k|v and T x 2dt cross k|v
        std::vector<float> kPanels;    // H x (T rounded up to nr) x dh: keys packed per head
        std::vector<float> vPanels;    // H x (dh rounded up to nr) x T: values packed per head
        // Instead, in 8 bits (attentionQ8): queries T x d quantized (a scale and a correction
        // per block of 32), keys and values packed per head into 8-bit panels (qnr keys of dh
        // values; qnr value columns of T).
        std::vector<int8_t> qq;
        std::vector<float> qScales;
        std::vector<int32_t> qCorrections;
        std::vector<uint8_t> kq;       // H x ceil(T / qnr) x q8PanelBytes(dh)
        std::vector<uint8_t> vq;       // H x ceil(dh / qnr) x q8PanelBytes(T)
        // Decoder, one token at a time.
        std::vector<float> dx;            // dt: the residual stream
        std::vector<float> dy;            // dt: dx after a layer norm
        std::vector<float> dq;            // dt: query
        std::vector<float> datt;          // dt: attention output (self or cross)
        std::vector<float> dtmp;          // dt: a projection on its way into dx
        std::vector<float> dhid;          // 4 dt: MLP hidden
        std::vector<int8_t> dqq;          // dt: query quantized (crossQ8), a scale and a correction per block
        std::vector<float> dqs;
        std::vector<int32_t> dqc;
        std::vector<float> crossLse;      // H x kCrossParts: log-sum-exp of each part of a head's positions
        std::vector<float> crossPart;     // kCrossParts x dt: each part's attention output
        std::vector<float> logits;        // n_vocab
        // Whole recordings.
        std::vector<float> mel;  // kFrames x n_mels
        std::vector<float> enc;  // T x d: encoder output
    };
    WorkSpace ws_;
    DecodeOptions decodeOptions_;
    int pos_ = 0;
    int audioCtx_ = 0;  // 0: whole window
    int curT_ = 0;      // encoder positions of the window being decoded
};

}  // namespace speech
