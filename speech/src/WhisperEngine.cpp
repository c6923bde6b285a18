#include "WhisperEngine.h"

#include "HugePageBuffer.h"
#include "MappedFile.h"
#include "WindowCutter.h"
#include "speech/Recognizer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace speech {

namespace {

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

int64_t roundUp(int64_t v, int64_t m) { return (v + m - 1) / m * m; }

// Scratch memory of the calling thread, grown on demand and kept.
float* scratch(std::size_t n) {
    thread_local std::vector<float> buf;
    if (buf.size() < n) buf.resize(n);
    return buf.data();
}

}  // namespace

struct WhisperEngine::Layer {
    Weight q, k, v, o, m0, m2, cq, ck, cv, co;
    Panels pq, pk, pv, po, pm0, pm2, pck, pcv;
    Panels pqkv, pckv;  // the three (two) side by side, when their panels line up
    std::vector<float> qb, vb, ob, m0b, m2b, ln1w, ln1b, ln2w, ln2b, cqb, cvb, cob, lncw, lncb;
    std::vector<float> qkvb;  // query, key (none) and value biases side by side
    std::vector<float> ckvb;  // cross-attention key (none) and value biases side by side
};
struct WhisperEngine::DecLayer : WhisperEngine::Layer {};

WhisperEngine::WhisperEngine(const std::string& path, int threads)
    : map_(std::make_unique<MappedFile>(path)),
      file_(parseModel(map_->data(), map_->size())),
      k_(kernels()),
      pool_(threads) {
    tok_ = std::make_unique<Tokenizer>(file_.hp, std::move(file_.vocab));
    const HyperParams& hp = file_.hp;
    auto weight = [this](const std::string& name) {
        const TensorView& t = file_.tensor(name);
        Weight w;
        w.data = t.data;
        w.half = t.type == TensorType::F16;
        w.rows = t.dims[0];
        w.cols = t.elements() / t.dims[0];
        return w;
    };
    auto vec = [this](const std::string& name) {
        const TensorView& t = file_.tensor(name);
        std::vector<float> v(std::size_t(t.elements()));
        k_.toFloat(t.data, t.type == TensorType::F16, t.elements(), v.data());
        return v;
    };
    auto attention = [&](Layer& L, const std::string& p, bool cross) {
        Weight& q = cross ? L.cq : L.q;
        Weight& k = cross ? L.ck : L.k;
        Weight& v = cross ? L.cv : L.v;
        Weight& o = cross ? L.co : L.o;
        q = weight(p + ".query.weight");
        k = weight(p + ".key.weight");
        v = weight(p + ".value.weight");
        o = weight(p + ".out.weight");
        (cross ? L.cqb : L.qb) = vec(p + ".query.bias");
        (cross ? L.cvb : L.vb) = vec(p + ".value.bias");
        (cross ? L.cob : L.ob) = vec(p + ".out.bias");
    };
    auto common = [&](Layer& L, const std::string& p) {
        attention(L, p + ".attn", false);
        L.ln1w = vec(p + ".attn_ln.weight");
        L.ln1b = vec(p + ".attn_ln.bias");
        L.m0 = weight(p + ".mlp.0.weight");
        L.m0b = vec(p + ".mlp.0.bias");
        L.m2 = weight(p + ".mlp.2.weight");
        L.m2b = vec(p + ".mlp.2.bias");
        L.ln2w = vec(p + ".mlp_ln.weight");
        L.ln2b = vec(p + ".mlp_ln.bias");
    };
    for (int i = 0; i < hp.nAudioLayer; ++i) {
        auto L = std::make_unique<Layer>();
        common(*L, "encoder.blocks." + std::to_string(i));
        L->qkvb.assign(std::size_t(3 * hp.nAudioState), 0.0f);
        std::copy(L->qb.begin(), L->qb.end(), L->qkvb.begin());
        std::copy(L->vb.begin(), L->vb.end(), L->qkvb.begin() + 2 * hp.nAudioState);
        enc_.push_back(std::move(L));
    }
    for (int i = 0; i < hp.nTextLayer; ++i) {
        auto L = std::make_unique<DecLayer>();
        std::string p = "decoder.blocks." + std::to_string(i);
        common(*L, p);
        attention(*L, p + ".cross_attn", true);
        L->ckvb.assign(std::size_t(2 * hp.nTextState), 0.0f);
        std::copy(L->cvb.begin(), L->cvb.end(), L->ckvb.begin() + hp.nTextState);
        L->lncw = vec(p + ".cross_attn_ln.weight");
        L->lncb = vec(p + ".cross_attn_ln.bias");
        dec_.push_back(std::move(L));
    }
    encPos_ = vec("encoder.positional_embedding");
    decPos_ = vec("decoder.positional_embedding");
    conv1_ = weight("encoder.conv1.weight");
    conv2_ = weight("encoder.conv2.weight");
    conv1b_ = vec("encoder.conv1.bias");
    conv2b_ = vec("encoder.conv2.bias");
    lnPostW_ = vec("encoder.ln_post.weight");
    lnPostB_ = vec("encoder.ln_post.bias");
    lnW_ = vec("decoder.ln.weight");
    lnB_ = vec("decoder.ln.bias");
    tokEmb_ = weight("decoder.token_embedding.weight");

    // Front end: a DFT with the periodic Hann window folded in (cosines, then sines), and
    // the file's filters, both packed once.
    const int nr = k_.nr;
    {
        std::vector<float> basis(402 * 400);
        for (int b = 0; b < 201; ++b)
            for (int n = 0; n < 400; ++n) {
                double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * n / 400.0);
                double ang = 2.0 * M_PI * double((int64_t(b) * n) % 400) / 400.0;
                basis[b * 400 + n] = float(w * std::cos(ang));
                basis[(201 + b) * 400 + n] = float(-w * std::sin(ang));
            }
        Weight w{basis.data(), false, 402, 400};
        dftPacked_.resize(roundUp(402, nr) * 400);
        packWeight(w, dftPacked_.data());
        Weight m{file_.melFilters.data(), false, hp.nMels, 201};
        melPacked_.resize(roundUp(hp.nMels, nr) * 201);
        packWeight(m, melPacked_.data());
    }
    window_.resize(kWindowSamples + 400);
    spectrum_.resize(std::size_t(kFrames) * 402);
    power_.resize(std::size_t(kFrames) * 201);

    const int64_t d = hp.nAudioState, T = hp.nAudioCtx;
    npad1500_ = roundUp(T, nr);
    curT_ = int(T);
    im2col_.resize(std::size_t(std::max<int64_t>(int64_t(kFrames) * 3 * hp.nMels, T * 3 * d)));
    h1_.resize(std::size_t(kFrames * d));
    for (auto* b : {&x_, &y_, &att_}) b->resize(std::size_t(T * d));
    hidden_.resize(std::size_t(T * 4 * d));
    const int64_t dh = d / hp.nAudioHead;
    kPack_.resize(std::size_t(hp.nAudioHead * npad1500_ * dh));
    vPack_.resize(std::size_t(hp.nAudioHead * roundUp(dh, nr) * T));

    const int64_t dt = hp.nTextState;
    const std::size_t crossCount = std::size_t(hp.nTextLayer) * std::size_t(T * dt);
    crossBuf_ = HugePageBuffer(2 * crossCount * sizeof(uint16_t));
    std::memset(crossBuf_.data(), 0, crossBuf_.size());
    crossK_ = static_cast<uint16_t*>(crossBuf_.data());
    crossV_ = crossK_ + crossCount;
    packEncoderWeights();
    // Separate projection outputs only for layers the fused products do not cover.
    bool separate = false;
    for (auto& L : enc_) separate = separate || !L->pqkv.n;
    for (auto& L : dec_) separate = separate || !L->pckv.n;
    if (separate)
        for (auto* b : {&q_, &kk_, &v_}) b->resize(std::size_t(T * d));
    // TOVRIN_SPEECH_MAPPED_WEIGHTS=1 keeps them in the mapping (for comparisons).
    const char* mapped = std::getenv("TOVRIN_SPEECH_MAPPED_WEIGHTS");
    if (HugePageBuffer::available() && !(mapped && *mapped == '1')) moveDecoderWeights();
    selfK_.resize(std::size_t(hp.nTextLayer) * hp.nTextCtx * dt);
    selfV_.resize(std::size_t(hp.nTextLayer) * hp.nTextCtx * dt);
    for (auto* b : {&dx_, &dy_, &dq_, &dk_, &dv_, &datt_, &dtmp_}) b->resize(std::size_t(dt));
    dhid_.resize(std::size_t(4 * dt));
    crossLse_.resize(std::size_t(hp.nTextHead * kCrossParts));
    crossPart_.resize(std::size_t(kCrossParts * dt));
    logits_.resize(std::size_t(hp.nVocab));
}

WhisperEngine::~WhisperEngine() = default;

// Copies the matrices the decoder streams for every token into huge pages and lets go of
// their pages in the file mapping (the file stays in the page cache, outside this process).
void WhisperEngine::moveDecoderWeights() {
    std::vector<Weight*> ws;
    for (auto& L : dec_)
        for (Weight* w : {&L->q, &L->k, &L->v, &L->o, &L->cq, &L->co, &L->m0, &L->m2}) ws.push_back(w);
    ws.push_back(&tokEmb_);
    auto bytes = [](const Weight* w) { return std::size_t(w->rows * w->cols) * (w->half ? 2 : 4); };
    std::size_t total = 0;
    std::vector<std::size_t> offsets;
    for (Weight* w : ws) {
        offsets.push_back(total);
        total += (bytes(w) + 63) / 64 * 64;
    }
    decoderWeights_ = HugePageBuffer(total);
    auto* base = static_cast<uint8_t*>(decoderWeights_.data());
    struct Piece {
        const uint8_t* src;
        uint8_t* dst;
        std::size_t n;
    };
    std::vector<Piece> pieces;
    const std::size_t chunk = std::size_t(4) << 20;
    for (std::size_t i = 0; i < ws.size(); ++i)
        for (std::size_t o = 0; o < bytes(ws[i]); o += chunk)
            pieces.push_back({static_cast<const uint8_t*>(ws[i]->data) + o, base + offsets[i] + o,
                              std::min(chunk, bytes(ws[i]) - o)});
    pool_.run(int64_t(pieces.size()), [&](int64_t i) { std::memcpy(pieces[i].dst, pieces[i].src, pieces[i].n); });
    const uintptr_t page = 4096;
    for (std::size_t i = 0; i < ws.size(); ++i) {
        auto begin = (reinterpret_cast<uintptr_t>(ws[i]->data) + page - 1) / page * page;
        auto end = (reinterpret_cast<uintptr_t>(ws[i]->data) + bytes(ws[i])) / page * page;
        if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
        ws[i]->data = base + offsets[i];
    }
}

// Packs every weight the encoder and the cross-attention set-up multiply by into panels, once,
// and lets go of their pages in the file mapping. Weights whose products are fused (the
// query, key and value projections; the cross-attention keys and values) are packed side
// by side so that one product covers them.
void WhisperEngine::packEncoderWeights() {
    const int nr = k_.nr;
    struct Item {
        const Weight* w;
        Panels* p;
        std::size_t offset;
    };
    std::vector<Item> items;
    std::size_t total = 0;
    const bool halfPanels = k_.halfPanels;
    auto bytes = [nr, halfPanels](const Weight& w) {
        return std::size_t(roundUp(w.rows, nr) * w.cols) * (w.half && halfPanels ? 2 : 4);
    };
    auto add = [&](const Weight& w, Panels& p) {
        items.push_back({&w, &p, total});
        total += (bytes(w) + 63) / 64 * 64;
    };
    // Consecutive panels of weights of one shape and type read as one weight with their rows
    // stacked, when no panel spans two of them.
    auto group = [&](std::initializer_list<std::pair<const Weight*, Panels*>> ws, Panels& fused) {
        const Weight& first = *ws.begin()->first;
        bool same = first.rows % nr == 0;
        for (auto& [w, p] : ws) same = same && w->rows == first.rows && w->cols == first.cols && w->half == first.half;
        const std::size_t start = total;
        for (auto& [w, p] : ws) {
            items.push_back({w, p, total});
            total += same ? bytes(*w) : (bytes(*w) + 63) / 64 * 64;
        }
        if (same)
            fused = {reinterpret_cast<const void*>(start), first.half && halfPanels, first.rows * int64_t(ws.size()),
                     first.cols};
        total = (total + 63) / 64 * 64;
    };
    add(conv1_, conv1P_);
    add(conv2_, conv2P_);
    for (auto& L : enc_) {
        group({{&L->q, &L->pq}, {&L->k, &L->pk}, {&L->v, &L->pv}}, L->pqkv);
        add(L->o, L->po);
        add(L->m0, L->pm0);
        add(L->m2, L->pm2);
    }
    for (auto& L : dec_) group({{&L->ck, &L->pck}, {&L->cv, &L->pcv}}, L->pckv);
    panels_ = HugePageBuffer(total);
    auto* base = static_cast<uint8_t*>(panels_.data());
    auto rebase = [base](Panels& p) {
        if (p.n) p.data = base + reinterpret_cast<std::size_t>(p.data);
    };
    for (auto& L : enc_) rebase(L->pqkv);
    for (auto& L : dec_) rebase(L->pckv);
    // One job over every panel of every weight.
    std::vector<int64_t> first;
    int64_t panels = 0;
    for (const Item& it : items) {
        *it.p = {base + it.offset, it.w->half && halfPanels, it.w->rows, it.w->cols};
        first.push_back(panels);
        panels += (it.w->rows + nr - 1) / nr;
    }
    first.push_back(panels);
    pool_.run(panels, [&](int64_t i) {
        const std::size_t j = std::size_t(std::upper_bound(first.begin(), first.end(), i) - first.begin() - 1);
        const Weight& w = *items[j].w;
        const int64_t p = i - first[j];
        const int count = int(std::min<int64_t>(nr, w.rows - p * nr));
        void* dst = const_cast<void*>(items[j].p->data);
        if (items[j].p->half)
            k_.packNTHalf(static_cast<const uint16_t*>(w.data), w.cols, p * nr, count, w.cols,
                          static_cast<uint16_t*>(dst) + p * nr * w.cols);
        else
            k_.packNT(w.data, w.half, w.cols, p * nr, count, w.cols, static_cast<float*>(dst) + p * nr * w.cols);
    });
    const uintptr_t page = 4096;
    for (const Item& it : items) {
        const std::size_t n = std::size_t(it.w->rows * it.w->cols) * (it.w->half ? 2 : 4);
        auto begin = (reinterpret_cast<uintptr_t>(it.w->data) + page - 1) / page * page;
        auto end = (reinterpret_cast<uintptr_t>(it.w->data) + n) / page * page;
        if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    }
}

std::vector<float> WhisperEngine::encoderBuffer() const {
    return std::vector<float>(std::size_t(hp().nAudioCtx) * hp().nAudioState);
}

void WhisperEngine::setAudioContext(int positions) {
    audioCtx_ = positions <= 0 ? 0 : std::min(positions, hp().nAudioCtx);
}

void WhisperEngine::packWeight(const Weight& w, void* dst) {
    const int nr = k_.nr;
    const int64_t panels = (w.rows + nr - 1) / nr;
    pool_.run(panels, [&](int64_t p) {
        int count = int(std::min<int64_t>(nr, w.rows - p * nr));
        if (w.half)
            k_.packNTHalf(static_cast<const uint16_t*>(w.data), w.cols, p * nr, count, w.cols,
                          static_cast<uint16_t*>(dst) + p * nr * w.cols);
        else
            k_.packNT(w.data, false, w.cols, p * nr, count, w.cols, static_cast<float*>(dst) + p * nr * w.cols);
    });
}

void WhisperEngine::gemmPacked(int64_t m, const float* a, int64_t lda, const Panels& w, float* c, int64_t ldc,
                               const float* bias, int flags) {
    const int mr = k_.mr, nr = k_.nr;
    const int64_t n = w.n, k = w.k;
    const int64_t panels = (n + nr - 1) / nr;
    // Tasks of mb rows x pb panels (at least 128 columns), made smaller until every thread has
    // a few to take. A task's rows stay in the core's L2 cache while its panels pass; the
    // panels are read once per row block and the rows once per panel block.
    int64_t mb = 16 * mr;
    int64_t pb = std::max<int64_t>(4, 128 / nr);
    const int64_t want = 3 * int64_t(pool_.size());
    auto tasks = [&] { return ((m + mb - 1) / mb) * ((panels + pb - 1) / pb); };
    while (tasks() < want && pb > 1) --pb;
    while (tasks() < want && mb > mr) mb -= mr;
    const int64_t rowBlocks = (m + mb - 1) / mb, panelBlocks = (panels + pb - 1) / pb;
    // K is split into blocks so that a panel's block stays near the core while the task's
    // row tiles pass over it; partial sums wait in C.
    const int64_t kc = k <= 384 ? k : 256;
    pool_.run(rowBlocks * panelBlocks, [&](int64_t t) {
        const int64_t rb = t / panelBlocks, pbk = t % panelBlocks;
        const int64_t r0 = rb * mb, r1 = std::min(m, r0 + mb);
        const int64_t p0 = pbk * pb, p1 = std::min(panels, p0 + pb);
        for (int64_t k0 = 0; k0 < k; k0 += kc) {
            const int64_t kn = std::min(kc, k - k0);
            const bool last = k0 + kn == k;
            const int f = (k0 > 0 || (flags & kGemmAccumulate) ? kGemmAccumulate : 0) | (last ? flags & kGemmGelu : 0);
            for (int64_t p = p0; p < p1; ++p) {
                const int64_t off = p * nr * k + k0 * nr;
                const int cols = int(std::min<int64_t>(nr, n - p * nr));
                const float* bp = bias && last ? bias + p * nr : nullptr;
                if (w.half) {
                    const uint16_t* panel = static_cast<const uint16_t*>(w.data) + off;
                    for (int64_t r = r0; r < r1; r += mr) {
                        int rows = int(std::min<int64_t>(mr, r1 - r));
                        k_.tileHalf(a + r * lda + k0, lda, rows, panel, kn, c + r * ldc + p * nr, ldc, cols, bp, f);
                    }
                } else {
                    const float* panel = static_cast<const float*>(w.data) + off;
                    for (int64_t r = r0; r < r1; r += mr) {
                        int rows = int(std::min<int64_t>(mr, r1 - r));
                        k_.tile(a + r * lda + k0, lda, rows, panel, kn, c + r * ldc + p * nr, ldc, cols, bp, f);
                    }
                }
            }
        }
    });
}

void WhisperEngine::layerNormRows(int64_t m, const float* x, int64_t d, const std::vector<float>& w,
                                  const std::vector<float>& b, float* out) {
    const int64_t chunk = 32;
    pool_.run((m + chunk - 1) / chunk, [&](int64_t c) {
        for (int64_t r = c * chunk; r < std::min(m, (c + 1) * chunk); ++r)
            k_.layerNorm(x + r * d, d, w.data(), b.data(), out + r * d);
    });
}

void WhisperEngine::logMel(const float* samples, std::size_t count, float* mel) {
    const int64_t N = kWindowSamples;
    count = std::min<std::size_t>(count, std::size_t(N));
    float* x = window_.data() + 200;
    for (std::size_t i = 0; i < count; ++i) x[i] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
    std::fill(x + count, x + N, 0.0f);
    for (int i = 1; i <= 200; ++i) {
        x[-i] = x[i];
        x[N - 1 + i] = x[N - 1 - i];
    }
    // Frame t starts at window_[160 t]: the frames overlap, read with a row stride of 160.
    gemmPacked(kFrames, window_.data(), 160, Panels{dftPacked_.data(), false, 402, 400}, spectrum_.data(), 402,
               nullptr, 0);
    pool_.run(kFrames / 100, [&](int64_t c) {
        for (int64_t t = c * 100; t < (c + 1) * 100; ++t) {
            const float* s = spectrum_.data() + t * 402;
            float* p = power_.data() + t * 201;
            for (int b = 0; b < 201; ++b) p[b] = s[b] * s[b] + s[201 + b] * s[201 + b];
        }
    });
    const int nm = hp().nMels;
    gemmPacked(kFrames, power_.data(), 201, Panels{melPacked_.data(), false, nm, 201}, mel, nm, nullptr, 0);
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

void WhisperEngine::selfAttention(const float* q, const float* k, const float* v, int64_t ldqkv, float* out) {
    const HyperParams& hp = file_.hp;
    const int64_t d = hp.nAudioState, H = hp.nAudioHead, dh = d / H, T = curT_;
    const int mr = k_.mr, nr = k_.nr;
    const int64_t npad = roundUp(T, nr), kPanels = npad / nr, vPanels = (dh + nr - 1) / nr;
    float* kp = kPack_.data();
    float* vp = vPack_.data();
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
    // hold the softmax-weighted values of the keys so far; a new block's share is weighted in
    // by the log-sum-exp of its scores against that of the blocks before.
    const int64_t qb = 16 * mr, blocks = (T + qb - 1) / qb, kb = roundUp(256, nr);
    const float scale = 1.0f / std::sqrt(float(dh));
    pool_.run(H * blocks, [&](int64_t t) {
        const int64_t h = t / blocks, b = t % blocks;
        const int64_t r0 = b * qb, r1 = std::min(T, r0 + qb);
        float* s = scratch(std::size_t(qb * kb + qb));
        float* lse = s + qb * kb;
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
                float* row = s + (r - r0) * kb;
                const float l = k_.softmax(row, n, scale);
                if (first) {
                    lse[r - r0] = l;
                    continue;
                }
                const float m = std::max(lse[r - r0], l);
                const float wo = std::exp(lse[r - r0] - m), wn = std::exp(l - m), inv = 1.0f / (wo + wn);
                lse[r - r0] = m + std::log(wo + wn);
                float* o = out + r * d + h * dh;
                for (int64_t j = 0; j < dh; ++j) o[j] *= wo * inv;
                for (int64_t j = 0; j < n; ++j) row[j] *= wn * inv;
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
    });
}

void WhisperEngine::encode(const float* mel, float* out) {
    const HyperParams& hp = file_.hp;
    // With an audio context set, only the first 2 T frames are encoded, to T positions.
    curT_ = audioCtx_ > 0 ? audioCtx_ : hp.nAudioCtx;
    const int64_t d = hp.nAudioState, T = curT_, nm = hp.nMels, F = 2 * T;
    // conv1 (kernel 3, padding 1) as a product: row t holds mel[t-1..t+1][c] at c*3+k.
    float* col = im2col_.data();
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
    gemmPacked(F, col, 3 * nm, conv1P_, h1_.data(), d, conv1b_.data(), kGemmGelu);
    // conv2 (kernel 3, stride 2, padding 1).
    pool_.run(T / 50 + (T % 50 != 0), [&](int64_t c) {
        for (int64_t t = c * 50; t < std::min(T, (c + 1) * 50); ++t) {
            float* row = col + t * 3 * d;
            for (int k = 0; k < 3; ++k) {
                int64_t src = 2 * t + k - 1;
                const float* h = h1_.data() + src * d;
                bool ok = src >= 0 && src < F;
                for (int64_t ch = 0; ch < d; ++ch) row[ch * 3 + k] = ok ? h[ch] : 0.0f;
            }
        }
    });
    float* x = x_.data();
    gemmPacked(T, col, 3 * d, conv2P_, x, d, conv2b_.data(), kGemmGelu);
    pool_.run((T + 49) / 50, [&](int64_t c) {
        for (int64_t i = c * 50 * d; i < std::min(T, (c + 1) * 50) * d; ++i) x[i] += encPos_[std::size_t(i)];
    });

    for (auto& Lp : enc_) {
        Layer& L = *Lp;
        layerNormRows(T, x, d, L.ln1w, L.ln1b, y_.data());
        if (L.pqkv.n) {
            // One product for the query, key and value projections: their panels side by side.
            float* qkv = hidden_.data();
            gemmPacked(T, y_.data(), d, L.pqkv, qkv, 3 * d, L.qkvb.data(), 0);
            selfAttention(qkv, qkv + d, qkv + 2 * d, 3 * d, att_.data());
        } else {
            gemmPacked(T, y_.data(), d, L.pq, q_.data(), d, L.qb.data(), 0);
            gemmPacked(T, y_.data(), d, L.pk, kk_.data(), d, nullptr, 0);
            gemmPacked(T, y_.data(), d, L.pv, v_.data(), d, L.vb.data(), 0);
            selfAttention(q_.data(), kk_.data(), v_.data(), d, att_.data());
        }
        gemmPacked(T, att_.data(), d, L.po, x, d, L.ob.data(), kGemmAccumulate);
        layerNormRows(T, x, d, L.ln2w, L.ln2b, y_.data());
        gemmPacked(T, y_.data(), d, L.pm0, hidden_.data(), 4 * d, L.m0b.data(), kGemmGelu);
        gemmPacked(T, hidden_.data(), 4 * d, L.pm2, x, d, L.m2b.data(), kGemmAccumulate);
    }
    layerNormRows(T, x, d, lnPostW_, lnPostB_, out);
}

void WhisperEngine::beginDecode(const float* enc) {
    const HyperParams& hp = file_.hp;
    const int64_t d = hp.nTextState, T = curT_;
    for (std::size_t l = 0; l < dec_.size(); ++l) {
        DecLayer& L = *dec_[l];
        const float* ks;
        const float* vs;
        int64_t ld;
        if (L.pckv.n) {
            // Keys and values in one product: their panels side by side.
            gemmPacked(T, enc, d, L.pckv, hidden_.data(), 2 * d, L.ckvb.data(), 0);
            ks = hidden_.data();
            vs = hidden_.data() + d;
            ld = 2 * d;
        } else {
            gemmPacked(T, enc, d, L.pck, kk_.data(), d, nullptr, 0);
            gemmPacked(T, enc, d, L.pcv, v_.data(), d, L.cvb.data(), 0);
            ks = kk_.data();
            vs = v_.data();
            ld = d;
        }
        // Keys and values head by head, each head's T x dh block contiguous: a query's scores
        // and its weighted sum are one sequential pass each over memory.
        const int64_t H = hp.nTextHead, dh = d / H;
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

void WhisperEngine::matvecs(std::initializer_list<std::tuple<const Weight*, const float*, const float*, float*>> jobs,
                            bool gelu, float* residual) {
    struct Piece {
        const Weight* w;
        const float* bias;
        const float* x;
        float* y;
        int64_t r0, r1;
    };
    Piece pieces[512];
    int n = 0;
    int64_t total = 0;
    for (auto& j : jobs) total += std::get<0>(j)->rows;
    // About four pieces per thread, at most ~448 in all (jobs are few: one piece more each).
    int64_t chunk = roundUp(std::max({int64_t(16), total / (int64_t(pool_.size()) * 4), total / 448 + 1}), 16);
    for (auto& [w, bias, x, y] : jobs)
        for (int64_t r = 0; r < w->rows; r += chunk) pieces[n++] = {w, bias, x, y, r, std::min(w->rows, r + chunk)};
    pool_.run(n, [&](int64_t i) {
        const Piece& p = pieces[i];
        k_.matvec(p.w->data, p.w->half, p.w->cols, p.r0, p.r1, p.w->cols, p.x, p.y, p.bias);
        if (gelu) k_.gelu(p.y + p.r0, p.r1 - p.r0);
        if (residual)
            for (int64_t r = p.r0; r < p.r1; ++r) residual[r] += p.y[r];
    });
}

const float* WhisperEngine::step(int token) {
    const HyperParams& hp = file_.hp;
    if (pos_ >= hp.nTextCtx) throw Error("decoder context is full");
    if (token < 0 || token >= hp.nVocab) throw Error("token id out of range");
    const int64_t d = hp.nTextState, H = hp.nTextHead, dh = d / H, T = curT_, ctx = hp.nTextCtx;
    const float scale = 1.0f / std::sqrt(float(dh));
    float* x = dx_.data();
    {
        const uint8_t* row = static_cast<const uint8_t*>(tokEmb_.data) + token * d * (tokEmb_.half ? 2 : 4);
        k_.toFloat(row, tokEmb_.half, d, x);
        const float* p = decPos_.data() + int64_t(pos_) * d;
        for (int64_t i = 0; i < d; ++i) x[i] += p[i];
    }
    const int pos = pos_;
    for (std::size_t l = 0; l < dec_.size(); ++l) {
        DecLayer& L = *dec_[l];
        float* kc = selfK_.data() + l * ctx * d;
        float* vc = selfV_.data() + l * ctx * d;
        k_.layerNorm(x, d, L.ln1w.data(), L.ln1b.data(), dy_.data());
        matvecs({{&L.q, L.qb.data(), dy_.data(), dq_.data()},
                 {&L.k, nullptr, dy_.data(), kc + pos * d},
                 {&L.v, L.vb.data(), dy_.data(), vc + pos * d}});
        auto selfHead = [&](int64_t h) {
            float* s = scratch(std::size_t(ctx));
            const float* qh = dq_.data() + h * dh;
            for (int j = 0; j <= pos; ++j) s[j] = k_.dot(qh, kc + j * d + h * dh, dh);
            k_.softmax(s, pos + 1, scale);
            float* o = datt_.data() + h * dh;
            std::fill(o, o + dh, 0.0f);
            for (int j = 0; j <= pos; ++j) k_.axpy(s[j], vc + j * d + h * dh, o, dh);
        };
        // Over the first positions this is less work than handing it to the workers.
        if (int64_t(pos + 1) * d <= 4096)
            for (int64_t h = 0; h < H; ++h) selfHead(h);
        else
            pool_.run(H, selfHead);
        matvecs({{&L.o, L.ob.data(), datt_.data(), dtmp_.data()}}, false, x);

        k_.layerNorm(x, d, L.lncw.data(), L.lncb.data(), dy_.data());
        matvecs({{&L.cq, L.cqb.data(), dy_.data(), dq_.data()}});
        const uint16_t* kt = crossK_ + l * T * d;
        const uint16_t* cv = crossV_ + l * T * d;
        // With fewer heads than threads can keep busy, each head's positions are split into
        // parts, each attended to on its own; the parts are then weighted by their share of
        // the head's softmax sum (their log-sum-exp).
        const int64_t parts = std::clamp<int64_t>((2 * pool_.size() + H - 1) / H, 1, std::min<int64_t>(kCrossParts, std::max<int64_t>(1, T / 256)));
        const int64_t span = (T + parts - 1) / parts;
        float* lse = crossLse_.data();
        float* partOut = crossPart_.data();
        pool_.run(H * parts, [&](int64_t i) {
            const int64_t h = i / parts, t0 = (i % parts) * span, n = std::min(T, t0 + span) - t0;
            float* o = parts == 1 ? datt_.data() + h * dh : partOut + i * dh;
            float* s = scratch(std::size_t(span));
            k_.matvec(kt + (h * T + t0) * dh, true, dh, 0, n, dh, dq_.data() + h * dh, s, nullptr);
            lse[i] = k_.softmax(s, n, scale);
            k_.weightedSumHalf(s, cv + (h * T + t0) * dh, dh, n, dh, o);
        });
        if (parts > 1)
            for (int64_t h = 0; h < H; ++h) {
                float m = lse[h * parts];
                for (int64_t p = 1; p < parts; ++p) m = std::max(m, lse[h * parts + p]);
                float wsum = 0, wp[kCrossParts];
                for (int64_t p = 0; p < parts; ++p) wsum += wp[p] = std::exp(lse[h * parts + p] - m);
                float* o = datt_.data() + h * dh;
                for (int64_t j = 0; j < dh; ++j) {
                    float acc = 0;
                    for (int64_t p = 0; p < parts; ++p) acc += wp[p] * partOut[(h * parts + p) * dh + j];
                    o[j] = acc / wsum;
                }
            }
        matvecs({{&L.co, L.cob.data(), datt_.data(), dtmp_.data()}}, false, x);

        k_.layerNorm(x, d, L.ln2w.data(), L.ln2b.data(), dy_.data());
        matvecs({{&L.m0, L.m0b.data(), dy_.data(), dhid_.data()}}, true);
        matvecs({{&L.m2, L.m2b.data(), dhid_.data(), dtmp_.data()}}, false, x);
    }
    k_.layerNorm(x, d, lnW_.data(), lnB_.data(), dy_.data());
    matvecs({{&tokEmb_, nullptr, dy_.data(), logits_.data()}});
    ++pos_;
    return logits_.data();
}

DecodeResult WhisperEngine::decodeGreedy(const std::string& language, int maxTokens) {
    WindowDecoder decoder(*this);
    DecodeResult r = decoder.decode({}, language, 0.0f, 0, maxTokens);
    r.noSpeech = r.noSpeechProb > 0.6f && r.avgLogprob < -1.0f;
    return r;
}

std::vector<DecodeResult> WhisperEngine::transcribe(const float* samples, std::size_t count,
                                                    const std::string& language, StageTimes* times) {
    std::vector<DecodeResult> out;
    std::string lang = language.empty() ? "auto" : language;
    // Kept between calls: fresh memory costs a page fault per 4 KiB on first touch.
    melBuf_.resize(std::size_t(kFrames) * hp().nMels);
    encBuf_.resize(std::size_t(hp().nAudioCtx) * hp().nAudioState);
    float* mel = melBuf_.data();
    float* enc = encBuf_.data();
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
