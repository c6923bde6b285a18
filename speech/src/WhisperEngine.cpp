#include "WhisperEngine.h"

#include "HugePageBuffer.h"
#include "MappedFile.h"
#include "WindowCutter.h"
#include "speech/Recognizer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

namespace speech {

namespace {

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// One row's scores of a block of keys, turned into weights of the running (online) softmax by
// `weigh` (an expShifted: it raises `top` as needed and returns the weights' sum): `top` is the
// row's largest score so far and `sum` its sum of weights; when a larger score arrives, the
// output row so far (`o`, `dh` values) and the sum are rescaled to it.
template <class Weigh>
void runningSoftmax(Weigh&& weigh, bool first, float& top, float& sum, float* o, int64_t dh) {
    if (first) {
        top = -std::numeric_limits<float>::infinity();
        sum = weigh(&top);
        return;
    }
    const float before = top;
    const float add = weigh(&top);
    if (top > before) {
        const float w = std::exp(before - top);
        for (int64_t j = 0; j < dh; ++j) o[j] *= w;
        sum *= w;
    }
    sum += add;
}

}  // namespace

WhisperEngine::WhisperEngine(const std::string& path, int threads, WeightType weights)
    : map_(std::make_unique<MappedFile>(path)),
      file_(parseModel(map_->data(), map_->size())),
      k_(kernels()),
      pool_(threads),
      weights_(weights),
      products_(k_, pool_) {
    tok_ = std::make_unique<Tokenizer>(file_.hp, std::move(file_.vocab));
    const HyperParams& hp = file_.hp;
    w_ = std::make_unique<ModelWeights>(file_, *map_, k_, pool_, weights_);

    // Front end: a DFT with the periodic Hann window folded in (cosines, then sines), and
    // the file's filters, both packed once.
    const int nr = k_.nr;
    {
        std::vector<float> basis(2 * kFreqBins * kFftSize);
        for (int b = 0; b < kFreqBins; ++b)
            for (int n = 0; n < kFftSize; ++n) {
                double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * n / double(kFftSize));
                double ang = 2.0 * M_PI * double((int64_t(b) * n) % kFftSize) / double(kFftSize);
                basis[b * kFftSize + n] = float(w * std::cos(ang));
                basis[(kFreqBins + b) * kFftSize + n] = float(-w * std::sin(ang));
            }
        Weight w{basis.data(), false, 2 * kFreqBins, kFftSize};
        ws_.dftPanels.resize(roundUp(2 * kFreqBins, nr) * kFftSize);
        products_.pack(w, ws_.dftPanels.data());
        Weight m{file_.melFilters.data(), false, hp.nMels, kFreqBins};
        ws_.melPanels.resize(roundUp(hp.nMels, nr) * kFreqBins);
        products_.pack(m, ws_.melPanels.data());
    }
    ws_.window.resize(kWindowSamples + kFftSize);
    ws_.spectrum.resize(std::size_t(kFrames) * 2 * kFreqBins);
    ws_.power.resize(std::size_t(kFrames) * kFreqBins);

    const int64_t d = hp.nAudioState, T = hp.nAudioCtx;
    curT_ = int(T);
    ws_.im2col.resize(std::size_t(std::max<int64_t>(int64_t(kFrames) * 3 * hp.nMels, T * 3 * d)));
    ws_.conv1.resize(std::size_t(kFrames * d));
    for (auto* b : {&ws_.x, &ws_.y, &ws_.att}) b->resize(std::size_t(T * d));
    ws_.hidden.resize(std::size_t(T * 4 * d));
    const int64_t dh = d / hp.nAudioHead;
    if (!attentionQ8()) {
        ws_.kPanels.resize(std::size_t(hp.nAudioHead * roundUp(T, nr) * dh));
        ws_.vPanels.resize(std::size_t(hp.nAudioHead * roundUp(dh, nr) * T));
    } else {
        constexpr int64_t qk = KernelSet::kQ8Block;
        const int qnr = k_.qnr;
        ws_.qq.resize(std::size_t(T * d));
        ws_.qScales.resize(std::size_t(T * d / qk));
        ws_.qCorrections.resize(std::size_t(T * d / qk));
        ws_.kq.resize(std::size_t(hp.nAudioHead * ((T + qnr - 1) / qnr) * k_.q8PanelBytes(dh)));
        ws_.vq.resize(std::size_t(hp.nAudioHead * ((dh + qnr - 1) / qnr) * k_.q8PanelBytes(T)));
    }

    const int64_t dt = hp.nTextState;
    const std::size_t crossCount = std::size_t(hp.nTextLayer) * std::size_t(T * dt);
    if (crossQ8()) {
        const std::size_t blocks = crossCount / KernelSet::kQ8Block;
        crossBuf_ = HugePageBuffer(2 * crossCount + 2 * blocks * sizeof(float));
        std::memset(crossBuf_.data(), 0, crossBuf_.size());
        crossKq_ = static_cast<int8_t*>(crossBuf_.data());
        crossVq_ = crossKq_ + crossCount;
        crossKs_ = reinterpret_cast<float*>(crossVq_ + crossCount);
        crossVs_ = crossKs_ + blocks;
        ws_.dqq.resize(std::size_t(dt));
        ws_.dqs.resize(std::size_t(dt / KernelSet::kQ8Block));
        ws_.dqc.resize(std::size_t(dt / KernelSet::kQ8Block));
    } else {
        crossBuf_ = HugePageBuffer(2 * crossCount * sizeof(uint16_t));
        std::memset(crossBuf_.data(), 0, crossBuf_.size());
        crossK_ = static_cast<uint16_t*>(crossBuf_.data());
        crossV_ = crossK_ + crossCount;
    }
    // Separate projection outputs only for layers the fused products do not cover.
    if (w_->anyUnfused())
        for (auto* b : {&ws_.q, &ws_.k, &ws_.v}) b->resize(std::size_t(T * d));
    const std::size_t selfCount = std::size_t(hp.nTextLayer) * hp.nTextCtx * dt;
    selfCache_ = HugePageBuffer(2 * selfCount * sizeof(float));
    selfK_ = static_cast<float*>(selfCache_.data());
    selfV_ = selfK_ + selfCount;
    for (auto* b : {&ws_.dx, &ws_.dy, &ws_.dq, &ws_.datt, &ws_.dtmp}) b->resize(std::size_t(dt));
    ws_.dhid.resize(std::size_t(4 * dt));
    if (weights_ == WeightType::Q8) products_.reserveVectors(4 * dt);
    ws_.crossLse.resize(std::size_t(hp.nTextHead * kCrossParts));
    ws_.crossPart.resize(std::size_t(kCrossParts * dt));
    ws_.logits.resize(std::size_t(hp.nVocab));
}

WhisperEngine::~WhisperEngine() = default;

std::vector<float> WhisperEngine::encoderBuffer() const {
    return std::vector<float>(std::size_t(hp().nAudioCtx) * hp().nAudioState);
}

void WhisperEngine::setAudioContext(int positions) {
    audioCtx_ = positions <= 0 ? 0 : std::min(positions, hp().nAudioCtx);
}

void WhisperEngine::logMel(const float* samples, std::size_t count, float* mel) {
    const int64_t N = kWindowSamples;
    count = std::min<std::size_t>(count, std::size_t(N));
    float* x = ws_.window.data() + kFftSize / 2;
    for (std::size_t i = 0; i < count; ++i) x[i] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
    std::fill(x + count, x + N, 0.0f);
    for (int i = 1; i <= kFftSize / 2; ++i) {
        x[-i] = x[i];
        x[N - 1 + i] = x[N - 1 - i];
    }
    // Frame t starts at window[kHop t]: the frames overlap, read with a row stride of kHop.
    products_.gemm(kFrames, ws_.window.data(), kHop, Panels{ws_.dftPanels.data(), false, 2 * kFreqBins, kFftSize},
               ws_.spectrum.data(), 2 * kFreqBins, nullptr, 0);
    pool_.run(kFrames / 100, [&](int64_t c) {
        for (int64_t t = c * 100; t < (c + 1) * 100; ++t) {
            const float* s = ws_.spectrum.data() + t * 2 * kFreqBins;
            float* p = ws_.power.data() + t * kFreqBins;
            for (int b = 0; b < kFreqBins; ++b) p[b] = s[b] * s[b] + s[kFreqBins + b] * s[kFreqBins + b];
        }
    });
    const int nm = hp().nMels;
    products_.gemm(kFrames, ws_.power.data(), kFreqBins, Panels{ws_.melPanels.data(), false, nm, kFreqBins}, mel, nm,
               nullptr, 0);
    // log10, then everything more than 8 below the largest value raised to that floor.
    constexpr int64_t kChunks = 30, rowsPer = kFrames / kChunks;
    float chunkMax[kChunks];
    pool_.run(kChunks, [&](int64_t c) {
        float mx = -1e30f;
        for (int64_t i = c * rowsPer * nm; i < (c + 1) * rowsPer * nm; ++i) {
            float v = std::log10(std::max(mel[i], 1e-10f));
            mel[i] = v;
            mx = std::max(mx, v);
        }
        chunkMax[c] = mx;
    });
    const float floor = *std::max_element(chunkMax, chunkMax + kChunks) - 8.0f;
    pool_.run(kChunks, [&](int64_t c) {
        for (int64_t i = c * rowsPer * nm; i < (c + 1) * rowsPer * nm; ++i)
            mel[i] = (std::max(mel[i], floor) + 4.0f) * 0.25f;
    });
}

bool WhisperEngine::crossQ8() const {
    const HyperParams& hp = file_.hp;
    return weights_ == WeightType::Q8 && (hp.nTextState / hp.nTextHead) % KernelSet::kQ8Block == 0;
}

bool WhisperEngine::attentionQ8() const {
    const HyperParams& hp = file_.hp;
    return weights_ == WeightType::Q8 && (hp.nAudioState / hp.nAudioHead) % KernelSet::kQ8Block == 0;
}

void WhisperEngine::selfAttention(const float* q, const float* k, const float* v, int64_t ldqkv, float* out) {
    if (attentionQ8()) return selfAttentionQ8(q, k, v, ldqkv, out);
    const HyperParams& hp = file_.hp;
    const int64_t d = hp.nAudioState, H = hp.nAudioHead, dh = d / H, T = curT_;
    const int mr = k_.mr, nr = k_.nr;
    const int64_t npad = roundUp(T, nr), kPanels = npad / nr, vPanels = (dh + nr - 1) / nr;
    float* kp = ws_.kPanels.data();
    float* vp = ws_.vPanels.data();
    pool_.run(H * (kPanels + vPanels), [&](int64_t t) {
        const int64_t h = t / (kPanels + vPanels), p = t % (kPanels + vPanels);
        if (p < kPanels) {
            int count = int(std::min<int64_t>(nr, T - p * nr));
            k_.packNT(k + h * dh, false, ldqkv, p * nr, count, dh, kp + h * npad * dh + p * nr * dh);
        } else {
            const int64_t pv = p - kPanels;
            int count = int(std::min<int64_t>(nr, dh - pv * nr));
            k_.packNN(v + h * dh, ldqkv, pv * nr, count, T, vp + (h * vPanels + pv) * nr * T);
        }
    });
    // Each task takes qb queries of one head through the keys kb at a time: a block of keys
    // and values stays in the core's cache while all the task's queries pass. The output rows
    // sum the values weighted by exp(score - m), m the largest score so far; when m grows, what
    // is summed already is scaled down to match, and the rows are divided by the weights' sum
    // at the end.
    const int64_t qb = 16 * mr, blocks = (T + qb - 1) / qb, kb = roundUp(256, nr);
    const float scale = 1.0f / std::sqrt(float(dh));
    pool_.run(H * blocks, [&](int64_t t) {
        const int64_t h = t / blocks, b = t % blocks;
        const int64_t r0 = b * qb, r1 = std::min(T, r0 + qb);
        float* s = ThreadPool::scratch(std::size_t(qb * kb + 2 * qb));
        float* top = s + qb * kb;
        float* sum = top + qb;
        const float* kh = kp + h * npad * dh;
        for (int64_t t0 = 0; t0 < T; t0 += kb) {
            const int64_t n = std::min(kb, T - t0);
            const bool first = t0 == 0;
            for (int64_t r = r0; r < r1; r += mr) {
                int rows = int(std::min<int64_t>(mr, r1 - r));
                for (int64_t p = t0 / nr; p * nr < t0 + n; ++p) {
                    int cols = int(std::min<int64_t>(nr, T - p * nr));
                    k_.tile(q + r * ldqkv + h * dh, ldqkv, rows, kh + p * nr * dh, dh, s + (r - r0) * kb + (p * nr - t0),
                            kb, cols, nullptr, 0);
                }
            }
            for (int64_t r = r0; r < r1; ++r) {
                const int64_t i = r - r0;
                runningSoftmax([&](float* m) { return k_.expShifted(s + i * kb, n, scale, m); }, first, top[i], sum[i],
                               out + r * d + h * dh, dh);
            }
            for (int64_t r = r0; r < r1; r += mr) {
                int rows = int(std::min<int64_t>(mr, r1 - r));
                for (int64_t pv = 0; pv < vPanels; ++pv) {
                    int cols = int(std::min<int64_t>(nr, dh - pv * nr));
                    k_.tile(s + (r - r0) * kb, kb, rows, vp + (h * vPanels + pv) * nr * T + t0 * nr, n,
                            out + r * d + h * dh + pv * nr, d, cols, nullptr, first ? 0 : kGemmAccumulate);
                }
            }
        }
        for (int64_t r = r0; r < r1; ++r) {
            const float inv = 1.0f / sum[r - r0];
            float* o = out + r * d + h * dh;
            for (int64_t j = 0; j < dh; ++j) o[j] *= inv;
        }
    });
}

void WhisperEngine::encode(const float* mel, float* out) {
    const HyperParams& hp = file_.hp;
    // With an audio context set, only the first 2 T frames are encoded, to T positions.
    curT_ = audioCtx_ > 0 ? audioCtx_ : hp.nAudioCtx;
    const int64_t d = hp.nAudioState, T = curT_, nm = hp.nMels, F = 2 * T;
    // conv1 (kernel 3, padding 1) as a product: row t holds mel[t-1..t+1][c] at c*3+k.
    float* col = ws_.im2col.data();
    pool_.run((F + 99) / 100, [&](int64_t c) {
        for (int64_t t = c * 100; t < std::min(F, (c + 1) * 100); ++t) {
            float* row = col + t * 3 * nm;
            for (int k = 0; k < 3; ++k) {
                int64_t src = t + k - 1;
                for (int64_t ch = 0; ch < nm; ++ch)
                    row[ch * 3 + k] = (src >= 0 && src < F) ? mel[src * nm + ch] : 0.0f;
            }
        }
    });
    products_.gemm(F, col, 3 * nm, w_->encoder_conv1_p, ws_.conv1.data(), d, w_->encoder_conv1_b.data(), kGemmGelu);
    // conv2 (kernel 3, stride 2, padding 1).
    pool_.run(T / 50 + (T % 50 != 0), [&](int64_t c) {
        for (int64_t t = c * 50; t < std::min(T, (c + 1) * 50); ++t) {
            float* row = col + t * 3 * d;
            for (int k = 0; k < 3; ++k) {
                int64_t src = 2 * t + k - 1;
                const float* h = ws_.conv1.data() + src * d;
                bool ok = src >= 0 && src < F;
                for (int64_t ch = 0; ch < d; ++ch) row[ch * 3 + k] = ok ? h[ch] : 0.0f;
            }
        }
    });
    float* x = ws_.x.data();
    products_.gemm(T, col, 3 * d, w_->encoder_conv2_p, x, d, w_->encoder_conv2_b.data(), kGemmGelu);
    pool_.run((T + 49) / 50, [&](int64_t c) {
        for (int64_t i = c * 50 * d; i < std::min(T, (c + 1) * 50) * d; ++i)
            x[i] += w_->encoder_positional_embedding[std::size_t(i)];
    });

    for (const ModelWeights::EncoderLayer& L : w_->encoder) {
        products_.layerNormRows(T, x, d, L.attn_ln_w, L.attn_ln_b, ws_.y.data());
        if (L.attn_qkv_p.n) {
            // One product for the query, key and value projections: their panels side by side.
            float* qkv = ws_.hidden.data();
            products_.gemm(T, ws_.y.data(), d, L.attn_qkv_p, qkv, 3 * d, L.attn_qkv_b.data(), 0);
            selfAttention(qkv, qkv + d, qkv + 2 * d, 3 * d, ws_.att.data());
        } else {
            products_.gemm(T, ws_.y.data(), d, L.attn_q_p, ws_.q.data(), d, L.attn_q_b.data(), 0);
            products_.gemm(T, ws_.y.data(), d, L.attn_k_p, ws_.k.data(), d, nullptr, 0);
            products_.gemm(T, ws_.y.data(), d, L.attn_v_p, ws_.v.data(), d, L.attn_v_b.data(), 0);
            selfAttention(ws_.q.data(), ws_.k.data(), ws_.v.data(), d, ws_.att.data());
        }
        products_.gemm(T, ws_.att.data(), d, L.attn_out_p, x, d, L.attn_out_b.data(), kGemmAccumulate);
        products_.layerNormRows(T, x, d, L.mlp_ln_w, L.mlp_ln_b, ws_.y.data());
        products_.gemm(T, ws_.y.data(), d, L.mlp_0_p, ws_.hidden.data(), 4 * d, L.mlp_0_b.data(), kGemmGelu);
        products_.gemm(T, ws_.hidden.data(), 4 * d, L.mlp_2_p, x, d, L.mlp_2_b.data(), kGemmAccumulate);
    }
    products_.layerNormRows(T, x, d, w_->encoder_ln_post_w, w_->encoder_ln_post_b, out);
}

void WhisperEngine::beginDecode(const float* enc) {
    const HyperParams& hp = file_.hp;
    const int64_t d = hp.nTextState, T = curT_;
    for (std::size_t l = 0; l < w_->decoder.size(); ++l) {
        const ModelWeights::DecoderLayer& L = w_->decoder[l];
        const float* ks;
        const float* vs;
        int64_t ld;
        if (L.cross_attn_kv_p.n) {
            // Keys and values in one product: their panels side by side.
            products_.gemm(T, enc, d, L.cross_attn_kv_p, ws_.hidden.data(), 2 * d, L.cross_attn_kv_b.data(), 0);
            ks = ws_.hidden.data();
            vs = ws_.hidden.data() + d;
            ld = 2 * d;
        } else {
            products_.gemm(T, enc, d, L.cross_attn_k_p, ws_.k.data(), d, nullptr, 0);
            products_.gemm(T, enc, d, L.cross_attn_v_p, ws_.v.data(), d, L.cross_attn_v_b.data(), 0);
            ks = ws_.k.data();
            vs = ws_.v.data();
            ld = d;
        }
        // Keys and values head by head, each head's T x dh block contiguous: a query's scores
        // and its weighted sum are one sequential pass each over memory.
        const int64_t H = hp.nTextHead, dh = d / H;
        if (crossQ8()) {
            const int64_t hb = dh / KernelSet::kQ8Block;
            int8_t* kq = crossKq_ + l * T * d;
            int8_t* vq = crossVq_ + l * T * d;
            float* kqs = crossKs_ + l * T * (d / KernelSet::kQ8Block);
            float* vqs = crossVs_ + l * T * (d / KernelSet::kQ8Block);
            pool_.run((T + 49) / 50, [&](int64_t c) {
                for (int64_t t = c * 50; t < std::min(T, (c + 1) * 50); ++t)
                    for (int64_t h = 0; h < H; ++h) {
                        k_.quantizeRow(ks + t * ld + h * dh, dh, kq + (h * T + t) * dh, kqs + (h * T + t) * hb);
                        k_.quantize(vs + t * ld + h * dh, dh, vq + (h * T + t) * dh, vqs + (h * T + t) * hb);
                    }
            });
            continue;
        }
        uint16_t* kt = crossK_ + l * T * d;
        uint16_t* cv = crossV_ + l * T * d;
        pool_.run((T + 49) / 50, [&](int64_t c) {
            for (int64_t t = c * 50; t < std::min(T, (c + 1) * 50); ++t)
                for (int64_t h = 0; h < H; ++h) {
                    k_.toHalf(ks + t * ld + h * dh, dh, kt + (h * T + t) * dh, 1);
                    k_.toHalf(vs + t * ld + h * dh, dh, cv + (h * T + t) * dh, 1);
                }
        });
    }
    pos_ = 0;
}

const float* WhisperEngine::step(int token) {
    const HyperParams& hp = file_.hp;
    if (pos_ >= hp.nTextCtx) throw Error("decoder context is full");
    if (token < 0 || token >= hp.nVocab) throw Error("token id out of range");
    const int64_t d = hp.nTextState, H = hp.nTextHead, dh = d / H, T = curT_, ctx = hp.nTextCtx;
    const float scale = 1.0f / std::sqrt(float(dh));
    float* x = ws_.dx.data();
    {
        const Weight& emb = w_->decoder_token_embedding;
        if (emb.q8) {
            const int64_t blocks = (d + KernelSet::kQ8Block - 1) / KernelSet::kQ8Block;
            const int8_t* q = static_cast<const int8_t*>(emb.data) + token * blocks * KernelSet::kQ8Block;
            k_.dequantizeRow(q, emb.scales + token * blocks, d, x);
        } else {
            const uint8_t* row = static_cast<const uint8_t*>(emb.data) + token * d * (emb.half ? 2 : 4);
            k_.toFloat(row, emb.half, d, x);
        }
        const float* p = w_->decoder_positional_embedding.data() + int64_t(pos_) * d;
        for (int64_t i = 0; i < d; ++i) x[i] += p[i];
    }
    const int pos = pos_;
    for (std::size_t l = 0; l < w_->decoder.size(); ++l) {
        const ModelWeights::DecoderLayer& L = w_->decoder[l];
        float* kc = selfK_ + l * ctx * d;
        float* vc = selfV_ + l * ctx * d;
        k_.layerNorm(x, d, L.attn_ln_w.data(), L.attn_ln_b.data(), ws_.dy.data());
        products_.matvecs({{&L.attn_q, L.attn_q_b.data(), ws_.dy.data(), ws_.dq.data()},
                 {&L.attn_k, nullptr, ws_.dy.data(), kc + pos * d},
                 {&L.attn_v, L.attn_v_b.data(), ws_.dy.data(), vc + pos * d}});
        auto selfHead = [&](int64_t h) {
            float* s = ThreadPool::scratch(std::size_t(ctx));
            const float* qh = ws_.dq.data() + h * dh;
            for (int j = 0; j <= pos; ++j) s[j] = k_.dot(qh, kc + j * d + h * dh, dh);
            k_.softmax(s, pos + 1, scale);
            float* o = ws_.datt.data() + h * dh;
            std::fill(o, o + dh, 0.0f);
            for (int j = 0; j <= pos; ++j) k_.axpy(s[j], vc + j * d + h * dh, o, dh);
        };
        // Over the first positions this is less work than handing it to the workers.
        if (int64_t(pos + 1) * d <= 4096)
            for (int64_t h = 0; h < H; ++h) selfHead(h);
        else
            pool_.run(H, selfHead);
        products_.matvecs({{&L.attn_out, L.attn_out_b.data(), ws_.datt.data(), ws_.dtmp.data()}}, false, x);

        k_.layerNorm(x, d, L.cross_attn_ln_w.data(), L.cross_attn_ln_b.data(), ws_.dy.data());
        products_.matvecs({{&L.cross_attn_q, L.cross_attn_q_b.data(), ws_.dy.data(), ws_.dq.data()}});
        const bool q8 = crossQ8();
        const int64_t hb = dh / KernelSet::kQ8Block, lb = T * (d / KernelSet::kQ8Block);
        if (q8) k_.quantizeV(ws_.dq.data(), d, ws_.dqq.data(), ws_.dqs.data(), ws_.dqc.data());
        // With fewer heads than threads can keep busy, each head's positions are split into
        // parts, each attended to on its own; the parts are then weighted by their share of
        // the head's softmax sum (their log-sum-exp).
        const int64_t parts = std::clamp<int64_t>((2 * pool_.size() + H - 1) / H, 1, std::min<int64_t>(kCrossParts, std::max<int64_t>(1, T / 256)));
        const int64_t span = (T + parts - 1) / parts;
        float* lse = ws_.crossLse.data();
        float* partOut = ws_.crossPart.data();
        pool_.run(H * parts, [&](int64_t i) {
            const int64_t h = i / parts, t0 = (i % parts) * span, n = std::min(T, t0 + span) - t0;
            float* o = parts == 1 ? ws_.datt.data() + h * dh : partOut + i * dh;
            float* s = ThreadPool::scratch(std::size_t(span));
            const int64_t row = l * T * d + (h * T + t0) * dh, rowBlocks = l * lb + (h * T + t0) * hb;
            if (q8) {
                k_.matvecQ8(crossKq_ + row, crossKs_ + rowBlocks, 0, n, hb, ws_.dqq.data() + h * dh,
                            ws_.dqs.data() + h * hb, ws_.dqc.data() + h * hb, s, nullptr);
                lse[i] = k_.softmax(s, n, scale);
                k_.weightedSumQ8(s, crossVq_ + row, crossVs_ + rowBlocks, n, dh, o);
                return;
            }
            k_.matvec(crossK_ + row, true, dh, 0, n, dh, ws_.dq.data() + h * dh, s, nullptr);
            lse[i] = k_.softmax(s, n, scale);
            k_.weightedSumHalf(s, crossV_ + row, dh, n, dh, o);
        });
        if (parts > 1)
            for (int64_t h = 0; h < H; ++h) {
                float m = lse[h * parts];
                for (int64_t p = 1; p < parts; ++p) m = std::max(m, lse[h * parts + p]);
                float wsum = 0, wp[kCrossParts];
                for (int64_t p = 0; p < parts; ++p) wsum += wp[p] = std::exp(lse[h * parts + p] - m);
                float* o = ws_.datt.data() + h * dh;
                for (int64_t j = 0; j < dh; ++j) {
                    float acc = 0;
                    for (int64_t p = 0; p < parts; ++p) acc += wp[p] * partOut[(h * parts + p) * dh + j];
                    o[j] = acc / wsum;
                }
            }
        products_.matvecs({{&L.cross_attn_out, L.cross_attn_out_b.data(), ws_.datt.data(), ws_.dtmp.data()}}, false, x);

        k_.layerNorm(x, d, L.mlp_ln_w.data(), L.mlp_ln_b.data(), ws_.dy.data());
        products_.matvecs({{&L.mlp_0, L.mlp_0_b.data(), ws_.dy.data(), ws_.dhid.data()}}, true);
        products_.matvecs({{&L.mlp_2, L.mlp_2_b.data(), ws_.dhid.data(), ws_.dtmp.data()}}, false, x);
    }
    k_.layerNorm(x, d, w_->decoder_ln_w.data(), w_->decoder_ln_b.data(), ws_.dy.data());
    products_.matvecs({{&w_->decoder_token_embedding, nullptr, ws_.dy.data(), ws_.logits.data()}});
    ++pos_;
    return ws_.logits.data();
}

// The same attention in 8 bits: the queries quantized row by row, the keys and values packed
// per head into 8-bit panels like weights, the scores computed with the 8-bit tiles, and each
// block of exponentials quantized (per block of 32 keys, unsigned: they are never negative) as
// they are computed, before they weight the values.
void WhisperEngine::selfAttentionQ8(const float* q, const float* k, const float* v, int64_t ldqkv, float* out) {
    const HyperParams& hp = file_.hp;
    constexpr int64_t qk = KernelSet::kQ8Block;
    const int64_t d = hp.nAudioState, H = hp.nAudioHead, dh = d / H, T = curT_;
    const int mr = k_.qmr, nr = k_.qnr;
    const int64_t kPanels = (T + nr - 1) / nr, vPanels = (dh + nr - 1) / nr;
    const int64_t kPanelBytes = k_.q8PanelBytes(dh), vPanelBytes = k_.q8PanelBytes(T);
    const int64_t rowBlocks = d / qk, headBlocks = dh / qk, tBlocks = (T + qk - 1) / qk;
    int8_t* qq = ws_.qq.data();
    float* qs = ws_.qScales.data();
    int32_t* qc = ws_.qCorrections.data();
    uint8_t* kq = ws_.kq.data();
    uint8_t* vq = ws_.vq.data();
    const int64_t qChunks = (T + 31) / 32;
    pool_.run(qChunks + H * (kPanels + vPanels), [&](int64_t t) {
        if (t < qChunks) {
            for (int64_t r = t * 32; r < std::min(T, (t + 1) * 32); ++r)
                k_.quantizeA(q + r * ldqkv, d, qq + r * d, qs + r * rowBlocks, qc + r * rowBlocks);
            return;
        }
        t -= qChunks;
        const int64_t h = t / (kPanels + vPanels), p = t % (kPanels + vPanels);
        if (p < kPanels) {
            const int count = int(std::min<int64_t>(nr, T - p * nr));
            k_.packQ8(k + h * dh, false, ldqkv, p * nr, count, dh, kq + (h * kPanels + p) * kPanelBytes, false);
            return;
        }
        // The values' columns are the rows of this product's weight: transposed first.
        const int64_t pv = p - kPanels;
        const int count = int(std::min<int64_t>(nr, dh - pv * nr));
        // Sixteen positions at a time: their rows stay in the core's cache while each column
        // is written in runs.
        float* vt = ThreadPool::scratch(std::size_t(count * T));
        const float* vh = v + h * dh + pv * nr;
        for (int64_t j0 = 0; j0 < T; j0 += 16) {
            const int64_t jn = std::min<int64_t>(16, T - j0);
            for (int c = 0; c < count; ++c)
                for (int64_t j = j0; j < j0 + jn; ++j) vt[c * T + j] = vh[j * ldqkv + c];
        }
        k_.packQ8(vt, false, T, 0, count, T, vq + (h * vPanels + pv) * vPanelBytes, true);
    });
    // As in selfAttention, with the exponentials of each block of keys quantized before the
    // product with the values.
    const int64_t qb = 16 * mr, blocks = (T + qb - 1) / qb, kb = roundUp(768, std::max<int64_t>(nr, qk));
    const int64_t kbBlocks = kb / qk;
    const float scale = 1.0f / std::sqrt(float(dh));
    pool_.run(H * blocks, [&](int64_t t) {
        const int64_t h = t / blocks, b = t % blocks;
        const int64_t r0 = b * qb, r1 = std::min(T, r0 + qb);
        float* s = ThreadPool::scratch(std::size_t(qb * kb + 2 * qb + qb * kbBlocks + qb * kb / 4));
        float* top = s + qb * kb;
        float* sum = top + qb;
        float* ps = sum + qb;
        auto* pq = reinterpret_cast<int8_t*>(ps + qb * kbBlocks);
        const uint8_t* kh = kq + h * kPanels * kPanelBytes;
        for (int64_t t0 = 0; t0 < T; t0 += kb) {
            const int64_t n = std::min(kb, T - t0), nBlocks = (n + qk - 1) / qk;
            const bool first = t0 == 0;
            for (int64_t r = r0; r < r1; r += mr) {
                const int rows = int(std::min<int64_t>(mr, r1 - r));
                const int64_t a = r * rowBlocks + h * headBlocks;
                for (int64_t p = t0 / nr; p * nr < t0 + n; ++p) {
                    const int cols = int(std::min<int64_t>(nr, T - p * nr));
                    k_.tileQ8(qq + r * d + h * dh, d, qs + a, qc + a, rowBlocks, rows, kh + p * kPanelBytes,
                              headBlocks, s + (r - r0) * kb + (p * nr - t0), kb, cols, nullptr, 0);
                }
            }
            for (int64_t r = r0; r < r1; ++r) {
                const int64_t i = r - r0;
                runningSoftmax(
                    [&](float* m) {
                        return k_.expQuantize(s + i * kb, n, scale, m, pq + i * kb, ps + i * kbBlocks);
                    },
                    first, top[i], sum[i], out + r * d + h * dh, dh);
            }
            for (int64_t r = r0; r < r1; r += mr) {
                const int rows = int(std::min<int64_t>(mr, r1 - r));
                const int64_t i = r - r0;
                for (int64_t pv = 0; pv < vPanels; ++pv) {
                    const int cols = int(std::min<int64_t>(nr, dh - pv * nr));
                    const uint8_t* panel = vq + (h * vPanels + pv) * vPanelBytes + (t0 / qk) * (vPanelBytes / tBlocks);
                    k_.tileQ8(pq + i * kb, kb, ps + i * kbBlocks, nullptr, kbBlocks, rows, panel, nBlocks,
                              out + r * d + h * dh + pv * nr, d, cols, nullptr,
                              kGemmQ8Plain | (first ? 0 : kGemmAccumulate));
                }
            }
        }
        for (int64_t r = r0; r < r1; ++r) {
            const float inv = 1.0f / sum[r - r0];
            float* o = out + r * d + h * dh;
            for (int64_t j = 0; j < dh; ++j) o[j] *= inv;
        }
    });
}

DecodeResult WhisperEngine::decodeGreedy(const std::string& language, int maxTokens) {
    WindowDecoder decoder(*this);
    DecodeResult r = decoder.decode({}, language, 0.0f, 0, maxTokens);
    r.noSpeech = r.noSpeechProb > kNoSpeechThreshold && r.avgLogprob < kLogprobThreshold;
    return r;
}

std::vector<DecodeResult> WhisperEngine::transcribe(const float* samples, std::size_t count,
                                                    const std::string& language, StageTimes* times) {
    std::vector<DecodeResult> out;
    std::string lang = language.empty() ? "auto" : language;
    // Kept between calls: fresh memory costs a page fault per 4 KiB on first touch.
    ws_.mel.resize(std::size_t(kFrames) * hp().nMels);
    ws_.enc.resize(std::size_t(hp().nAudioCtx) * hp().nAudioState);
    float* mel = ws_.mel.data();
    float* enc = ws_.enc.data();
    // The text of the windows so far (their latest tokens), the next window's context: at
    // most half the text context. Text sampled above temperature 0.5 is not carried on.
    const std::size_t maxContext = std::size_t(std::max(0, hp().nTextCtx / 2 - 1));
    std::vector<int> context;
    std::size_t start = 0;
    uint64_t window = 0;
    do {
        const std::size_t end = WindowCutter::windowEnd(samples, count, start);
        double t0 = nowMs();
        logMel(samples + start, end - start, mel);
        double t1 = nowMs();
        encode(mel, enc);
        double t2 = nowMs();
        beginDecode(enc);
        double t3 = nowMs();
        WindowDecoder decoder(*this);
        DecodeResult r = decoder.decodeWithFallback(context, lang, decodeOptions_, decodeOptions_.seed + window);
        double t4 = nowMs();
        r.start = start;
        r.end = end;
        if (times) {
            times->melMs += t1 - t0;
            times->encoderMs += t2 - t1;
            times->crossMs += t3 - t2;
            times->decoderMs += t4 - t3;
            times->decodedTokens += decoder.steps();
            times->windows += 1;
            times->fallbackWindows += decoder.fallbackDecodes() > 0;
            times->fallbackDecodes += decoder.fallbackDecodes();
            times->fallbackMs += decoder.fallbackMs();
        }
        if (lang == "auto") lang = r.language;  // detected on the first window, kept after
        if (r.temperature > 0.5f) {
            context.clear();
        } else if (!r.noSpeech) {
            context.insert(context.end(), r.tokens.begin(), r.tokens.end());
            if (context.size() > maxContext) context.erase(context.begin(), context.end() - std::ptrdiff_t(maxContext));
        }
        out.push_back(std::move(r));
        start = end;
        ++window;
    } while (start < count);
    return out;
}

}  // namespace speech
