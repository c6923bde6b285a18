#include "WhisperEngine.h"

#include "HugePageBuffer.h"
#include "MappedFile.h"
#include "WindowCutter.h"
#include "speech/Recognizer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

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

// The weights of one block, named after the file's tensors: attn_ln is <block>.attn_ln,
// attn_q <block>.attn.query, mlp_0 <block>.mlp.0, cross_attn_q <block>.cross_attn.query, and
// so on; _w and _b are a layer norm's weight and bias, _b alone a projection's bias (the key
// projections have none). _p fields are weights packed into panels for the matrix products.
struct WhisperEngine::EncoderLayer {
    std::vector<float> attn_ln_w, attn_ln_b;
    Weight attn_q, attn_k, attn_v, attn_out;
    std::vector<float> attn_q_b, attn_v_b, attn_out_b;
    std::vector<float> mlp_ln_w, mlp_ln_b;
    Weight mlp_0, mlp_2;
    std::vector<float> mlp_0_b, mlp_2_b;
    Panels attn_q_p, attn_k_p, attn_v_p, attn_out_p, mlp_0_p, mlp_2_p;
    Panels attn_qkv_p;              // query, key and value side by side, when their panels line up
    std::vector<float> attn_qkv_b;  // their biases side by side (zeros for the key)
};

struct WhisperEngine::DecoderLayer {
    std::vector<float> attn_ln_w, attn_ln_b;
    Weight attn_q, attn_k, attn_v, attn_out;
    std::vector<float> attn_q_b, attn_v_b, attn_out_b;
    std::vector<float> cross_attn_ln_w, cross_attn_ln_b;
    Weight cross_attn_q, cross_attn_k, cross_attn_v, cross_attn_out;
    std::vector<float> cross_attn_q_b, cross_attn_v_b, cross_attn_out_b;
    std::vector<float> mlp_ln_w, mlp_ln_b;
    Weight mlp_0, mlp_2;
    std::vector<float> mlp_0_b, mlp_2_b;
    // Cross-attention keys and values, computed once per window from the encoder output.
    Panels cross_attn_k_p, cross_attn_v_p;
    Panels cross_attn_kv_p;              // both side by side, when their panels line up
    std::vector<float> cross_attn_kv_b;  // their biases side by side (zeros for the key)
};

WhisperEngine::WhisperEngine(const std::string& path, int threads, WeightType weights)
    : map_(std::make_unique<MappedFile>(path)),
      file_(parseModel(map_->data(), map_->size())),
      k_(kernels()),
      pool_(threads),
      weights_(weights) {
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
    // What every layer has: attn_ln, attn, mlp_ln, mlp.
    auto common = [&](auto& L, const std::string& p) {
        L.attn_q = weight(p + ".attn.query.weight");
        L.attn_k = weight(p + ".attn.key.weight");
        L.attn_v = weight(p + ".attn.value.weight");
        L.attn_out = weight(p + ".attn.out.weight");
        L.attn_q_b = vec(p + ".attn.query.bias");
        L.attn_v_b = vec(p + ".attn.value.bias");
        L.attn_out_b = vec(p + ".attn.out.bias");
        L.attn_ln_w = vec(p + ".attn_ln.weight");
        L.attn_ln_b = vec(p + ".attn_ln.bias");
        L.mlp_0 = weight(p + ".mlp.0.weight");
        L.mlp_0_b = vec(p + ".mlp.0.bias");
        L.mlp_2 = weight(p + ".mlp.2.weight");
        L.mlp_2_b = vec(p + ".mlp.2.bias");
        L.mlp_ln_w = vec(p + ".mlp_ln.weight");
        L.mlp_ln_b = vec(p + ".mlp_ln.bias");
    };
    for (int i = 0; i < hp.nAudioLayer; ++i) {
        auto L = std::make_unique<EncoderLayer>();
        common(*L, "encoder.blocks." + std::to_string(i));
        L->attn_qkv_b.assign(std::size_t(3 * hp.nAudioState), 0.0f);
        std::copy(L->attn_q_b.begin(), L->attn_q_b.end(), L->attn_qkv_b.begin());
        std::copy(L->attn_v_b.begin(), L->attn_v_b.end(), L->attn_qkv_b.begin() + 2 * hp.nAudioState);
        enc_.push_back(std::move(L));
    }
    for (int i = 0; i < hp.nTextLayer; ++i) {
        auto L = std::make_unique<DecoderLayer>();
        std::string p = "decoder.blocks." + std::to_string(i);
        common(*L, p);
        L->cross_attn_q = weight(p + ".cross_attn.query.weight");
        L->cross_attn_k = weight(p + ".cross_attn.key.weight");
        L->cross_attn_v = weight(p + ".cross_attn.value.weight");
        L->cross_attn_out = weight(p + ".cross_attn.out.weight");
        L->cross_attn_q_b = vec(p + ".cross_attn.query.bias");
        L->cross_attn_v_b = vec(p + ".cross_attn.value.bias");
        L->cross_attn_out_b = vec(p + ".cross_attn.out.bias");
        L->cross_attn_kv_b.assign(std::size_t(2 * hp.nTextState), 0.0f);
        std::copy(L->cross_attn_v_b.begin(), L->cross_attn_v_b.end(), L->cross_attn_kv_b.begin() + hp.nTextState);
        L->cross_attn_ln_w = vec(p + ".cross_attn_ln.weight");
        L->cross_attn_ln_b = vec(p + ".cross_attn_ln.bias");
        dec_.push_back(std::move(L));
    }
    encoder_positional_embedding_ = vec("encoder.positional_embedding");
    decoder_positional_embedding_ = vec("decoder.positional_embedding");
    encoder_conv1_ = weight("encoder.conv1.weight");
    encoder_conv2_ = weight("encoder.conv2.weight");
    encoder_conv1_b_ = vec("encoder.conv1.bias");
    encoder_conv2_b_ = vec("encoder.conv2.bias");
    encoder_ln_post_w_ = vec("encoder.ln_post.weight");
    encoder_ln_post_b_ = vec("encoder.ln_post.bias");
    decoder_ln_w_ = vec("decoder.ln.weight");
    decoder_ln_b_ = vec("decoder.ln.bias");
    decoder_token_embedding_ = weight("decoder.token_embedding.weight");

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
        packWeight(w, ws_.dftPanels.data());
        Weight m{file_.melFilters.data(), false, hp.nMels, kFreqBins};
        ws_.melPanels.resize(roundUp(hp.nMels, nr) * kFreqBins);
        packWeight(m, ws_.melPanels.data());
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
    ws_.kPanels.resize(std::size_t(hp.nAudioHead * roundUp(T, nr) * dh));
    ws_.vPanels.resize(std::size_t(hp.nAudioHead * roundUp(dh, nr) * T));

    const int64_t dt = hp.nTextState;
    const std::size_t crossCount = std::size_t(hp.nTextLayer) * std::size_t(T * dt);
    crossBuf_ = HugePageBuffer(2 * crossCount * sizeof(uint16_t));
    std::memset(crossBuf_.data(), 0, crossBuf_.size());
    crossK_ = static_cast<uint16_t*>(crossBuf_.data());
    crossV_ = crossK_ + crossCount;
    packEncoderWeights();
    // Separate projection outputs only for layers the fused products do not cover.
    bool separate = false;
    for (auto& L : enc_) separate = separate || !L->attn_qkv_p.n;
    for (auto& L : dec_) separate = separate || !L->cross_attn_kv_p.n;
    if (separate)
        for (auto* b : {&ws_.q, &ws_.k, &ws_.v}) b->resize(std::size_t(T * d));
    // TOVRIN_SPEECH_MAPPED_WEIGHTS=1 keeps them in the mapping (for comparisons), unless they
    // are converted to 8 bits.
    const char* mapped = std::getenv("TOVRIN_SPEECH_MAPPED_WEIGHTS");
    if (weights_ == WeightType::Q8 || (HugePageBuffer::available() && !(mapped && *mapped == '1'))) {
        moveDecoderWeights();
        // Nothing reads the mapping any more: the pages still mapped (small tensors, the
        // pages two tensors share) go too.
        map_->release(map_->data(), map_->size());
    }
    ws_.selfK.resize(std::size_t(hp.nTextLayer) * hp.nTextCtx * dt);
    ws_.selfV.resize(std::size_t(hp.nTextLayer) * hp.nTextCtx * dt);
    for (auto* b : {&ws_.dx, &ws_.dy, &ws_.dq, &ws_.datt, &ws_.dtmp}) b->resize(std::size_t(dt));
    ws_.dhid.resize(std::size_t(4 * dt));
    if (weights_ == WeightType::Q8) {
        const int64_t blocks = (4 * dt + KernelSet::kQ8Block - 1) / KernelSet::kQ8Block;
        ws_.xq.resize(std::size_t(3 * blocks * KernelSet::kQ8Block));
        ws_.xScales.resize(std::size_t(3 * blocks));
    }
    ws_.crossLse.resize(std::size_t(hp.nTextHead * kCrossParts));
    ws_.crossPart.resize(std::size_t(kCrossParts * dt));
    ws_.logits.resize(std::size_t(hp.nVocab));
}

WhisperEngine::~WhisperEngine() = default;

// Copies the matrices the decoder streams for every token into huge pages and lets go of
// their pages in the file mapping (the file stays in the page cache, outside this process).
void WhisperEngine::moveDecoderWeights() {
    std::vector<Weight*> ws;
    for (auto& L : dec_)
        for (Weight* w : {&L->attn_q, &L->attn_k, &L->attn_v, &L->attn_out, &L->cross_attn_q, &L->cross_attn_out,
                          &L->mlp_0, &L->mlp_2})
            ws.push_back(w);
    ws.push_back(&decoder_token_embedding_);
    const bool q8 = weights_ == WeightType::Q8;
    constexpr int64_t qk = KernelSet::kQ8Block;
    auto blocks = [](const Weight* w) { return (w->cols + qk - 1) / qk; };
    auto bytes = [](const Weight* w) { return std::size_t(w->rows * w->cols) * (w->half ? 2 : 4); };
    // In 8 bits: the rows' values, then their scales.
    auto movedBytes = [&](const Weight* w) {
        return q8 ? std::size_t(w->rows * blocks(w)) * (qk + 4) : bytes(w);
    };
    std::size_t total = 0;
    std::vector<std::size_t> offsets;
    for (Weight* w : ws) {
        offsets.push_back(total);
        total += (movedBytes(w) + 63) / 64 * 64;
    }
    decoderWeights_ = HugePageBuffer(total);
    auto* base = static_cast<uint8_t*>(decoderWeights_.data());
    // Pieces of about 4 MiB of the file, whole rows each.
    struct Piece {
        std::size_t w;
        int64_t r0, r1;
    };
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < ws.size(); ++i) {
        const int64_t rowBytes = ws[i]->cols * (ws[i]->half ? 2 : 4);
        const int64_t rows = std::max<int64_t>(1, (int64_t(4) << 20) / rowBytes);
        for (int64_t r = 0; r < ws[i]->rows; r += rows) pieces.push_back({i, r, std::min(ws[i]->rows, r + rows)});
    }
    // Each piece's pages in the mapping are given back as soon as it is copied, so the copies
    // and the file are never resident in full at the same time.
    pool_.run(int64_t(pieces.size()), [&](int64_t i) {
        const Piece& p = pieces[std::size_t(i)];
        const Weight& w = *ws[p.w];
        const int64_t es = w.half ? 2 : 4;
        const auto* src = static_cast<const uint8_t*>(w.data) + p.r0 * w.cols * es;
        uint8_t* dst = base + offsets[p.w];
        if (q8) {
            const int64_t nb = blocks(&w);
            auto* values = reinterpret_cast<int8_t*>(dst);
            auto* scales = reinterpret_cast<float*>(dst + w.rows * nb * qk);
            float* row = scratch(std::size_t(w.cols));
            for (int64_t r = p.r0; r < p.r1; ++r) {
                k_.toFloat(static_cast<const uint8_t*>(w.data) + r * w.cols * es, w.half, w.cols, row);
                k_.quantize(row, w.cols, values + r * nb * qk, scales + r * nb, nullptr);
            }
        } else {
            std::memcpy(dst + p.r0 * w.cols * es, src, std::size_t((p.r1 - p.r0) * w.cols * es));
        }
        map_->release(src, std::size_t((p.r1 - p.r0) * w.cols * es));
    });
    for (std::size_t i = 0; i < ws.size(); ++i) {
        Weight& w = *ws[i];
        w.data = base + offsets[i];
        if (q8) {
            w.q8 = true;
            w.scales = reinterpret_cast<const float*>(base + offsets[i] + w.rows * blocks(&w) * qk);
        }
    }
}

// Packs every weight the encoder and the cross-attention set-up multiply by into panels, once,
// and lets go of their pages in the file mapping. Weights whose products are fused (the
// query, key and value projections; the cross-attention keys and values) are packed side
// by side so that one product covers them.
void WhisperEngine::packEncoderWeights() {
    struct Item {
        const Weight* w;
        Panels* p;
        std::size_t offset;
        bool q8;
    };
    std::vector<Item> items;
    std::size_t total = 0;
    const bool halfPanels = k_.halfPanels;
    // The convolutions keep their stored type: they are a small part of the work, and their
    // inner dimension (3 x mels) is not a whole number of 8-bit blocks.
    bool q8 = false;
    auto width = [&] { return q8 ? k_.qnr : k_.nr; };
    auto bytes = [&](const Weight& w) {
        if (q8) return std::size_t((w.rows + k_.qnr - 1) / k_.qnr * k_.q8PanelBytes(w.cols));
        return std::size_t(roundUp(w.rows, k_.nr) * w.cols) * (w.half && halfPanels ? 2 : 4);
    };
    auto add = [&](const Weight& w, Panels& p) {
        items.push_back({&w, &p, total, q8});
        total += (bytes(w) + 63) / 64 * 64;
    };
    // Consecutive panels of weights of one shape and type read as one weight with their rows
    // stacked, when no panel spans two of them.
    auto group = [&](std::initializer_list<std::pair<const Weight*, Panels*>> ws, Panels& fused) {
        const Weight& first = *ws.begin()->first;
        bool same = first.rows % width() == 0;
        for (auto& [w, p] : ws) same = same && w->rows == first.rows && w->cols == first.cols && w->half == first.half;
        const std::size_t start = total;
        for (auto& [w, p] : ws) {
            items.push_back({w, p, total, q8});
            total += same ? bytes(*w) : (bytes(*w) + 63) / 64 * 64;
        }
        if (same)
            fused = {reinterpret_cast<const void*>(start), first.half && halfPanels && !q8,
                     first.rows * int64_t(ws.size()), first.cols, q8};
        total = (total + 63) / 64 * 64;
    };
    add(encoder_conv1_, encoder_conv1_p_);
    add(encoder_conv2_, encoder_conv2_p_);
    q8 = weights_ == WeightType::Q8;
    for (auto& L : enc_) {
        group({{&L->attn_q, &L->attn_q_p}, {&L->attn_k, &L->attn_k_p}, {&L->attn_v, &L->attn_v_p}}, L->attn_qkv_p);
        add(L->attn_out, L->attn_out_p);
        add(L->mlp_0, L->mlp_0_p);
        add(L->mlp_2, L->mlp_2_p);
    }
    for (auto& L : dec_)
        group({{&L->cross_attn_k, &L->cross_attn_k_p}, {&L->cross_attn_v, &L->cross_attn_v_p}}, L->cross_attn_kv_p);
    panels_ = HugePageBuffer(total);
    auto* base = static_cast<uint8_t*>(panels_.data());
    auto rebase = [base](Panels& p) {
        if (p.n) p.data = base + reinterpret_cast<std::size_t>(p.data);
    };
    for (auto& L : enc_) rebase(L->attn_qkv_p);
    for (auto& L : dec_) rebase(L->cross_attn_kv_p);
    // One job over every panel of every weight.
    std::vector<int64_t> first;
    int64_t panels = 0;
    for (const Item& it : items) {
        const int nr = it.q8 ? k_.qnr : k_.nr;
        *it.p = {base + it.offset, it.w->half && halfPanels && !it.q8, it.w->rows, it.w->cols, it.q8};
        first.push_back(panels);
        panels += (it.w->rows + nr - 1) / nr;
    }
    first.push_back(panels);
    // Each weight's pages in the mapping are given back as soon as its last panel is packed:
    // the items are handed out in order, so only the few weights being packed are resident
    // twice at any moment.
    std::vector<std::atomic<int64_t>> left(items.size());
    for (std::size_t j = 0; j < items.size(); ++j) left[j] = first[j + 1] - first[j];
    pool_.run(panels, [&](int64_t i) {
        const std::size_t j = std::size_t(std::upper_bound(first.begin(), first.end(), i) - first.begin() - 1);
        const Weight& w = *items[j].w;
        const int64_t p = i - first[j];
        const int nr = items[j].q8 ? k_.qnr : k_.nr;
        const int count = int(std::min<int64_t>(nr, w.rows - p * nr));
        if (p == 0) map_->populate(w.data, std::size_t(w.rows * w.cols) * (w.half ? 2 : 4));
        void* dst = const_cast<void*>(items[j].p->data);
        if (items[j].q8)
            k_.packQ8(w.data, w.half, w.cols, p * nr, count, w.cols,
                      static_cast<uint8_t*>(dst) + p * k_.q8PanelBytes(w.cols));
        else if (items[j].p->half)
            k_.packNTHalf(static_cast<const uint16_t*>(w.data), w.cols, p * nr, count, w.cols,
                          static_cast<uint16_t*>(dst) + p * nr * w.cols);
        else
            k_.packNT(w.data, w.half, w.cols, p * nr, count, w.cols, static_cast<float*>(dst) + p * nr * w.cols);
        if (left[j].fetch_sub(1) == 1) map_->release(w.data, std::size_t(w.rows * w.cols) * (w.half ? 2 : 4));
    });
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
    const int mr = w.q8 ? k_.qmr : k_.mr, nr = w.q8 ? k_.qnr : k_.nr;
    const int64_t n = w.n, k = w.k;
    const int64_t panels = (n + nr - 1) / nr;
    constexpr int64_t qk = KernelSet::kQ8Block;
    const int64_t qBlocks = (k + qk - 1) / qk, qPanelBytes = w.q8 ? k_.q8PanelBytes(k) : 0;
    if (w.q8) quantizeRows(m, a, lda, k);
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
    // K is split into blocks of at most 512 so that a panel's block stays in L1 and the
    // task's rows in L2 while the row tiles pass over it; partial sums wait in C.
    const int64_t kBlocks = (k + 511) / 512;
    const int64_t kc = roundUp((k + kBlocks - 1) / kBlocks, w.q8 ? qk : 8);
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
                if (w.q8) {
                    const int64_t b0 = k0 / qk, nb = (kn + qk - 1) / qk;
                    const uint8_t* panel = static_cast<const uint8_t*>(w.data) + p * qPanelBytes + b0 * (qPanelBytes / qBlocks);
                    for (int64_t r = r0; r < r1; r += mr) {
                        int rows = int(std::min<int64_t>(mr, r1 - r));
                        k_.tileQ8(ws_.aq.data() + r * qBlocks * qk + b0 * qk, qBlocks * qk,
                                  ws_.aScales.data() + r * qBlocks + b0, ws_.aSums.data() + r * qBlocks + b0, qBlocks,
                                  rows, panel, nb, c + r * ldc + p * nr, ldc, cols, bp, f);
                    }
                } else if (w.half) {
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

void WhisperEngine::quantizeRows(int64_t m, const float* a, int64_t lda, int64_t k) {
    constexpr int64_t qk = KernelSet::kQ8Block;
    const int64_t blocks = (k + qk - 1) / qk;
    if (ws_.aq.size() < std::size_t(m * blocks * qk)) ws_.aq.resize(std::size_t(m * blocks * qk));
    if (ws_.aScales.size() < std::size_t(m * blocks)) {
        ws_.aScales.resize(std::size_t(m * blocks));
        ws_.aSums.resize(std::size_t(m * blocks));
    }
    const int64_t chunk = 32;
    pool_.run((m + chunk - 1) / chunk, [&](int64_t c) {
        for (int64_t r = c * chunk; r < std::min(m, (c + 1) * chunk); ++r)
            k_.quantize(a + r * lda, k, ws_.aq.data() + r * blocks * qk, ws_.aScales.data() + r * blocks,
                        ws_.aSums.data() + r * blocks);
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
    float* x = ws_.window.data() + kFftSize / 2;
    for (std::size_t i = 0; i < count; ++i) x[i] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
    std::fill(x + count, x + N, 0.0f);
    for (int i = 1; i <= kFftSize / 2; ++i) {
        x[-i] = x[i];
        x[N - 1 + i] = x[N - 1 - i];
    }
    // Frame t starts at window[kHop t]: the frames overlap, read with a row stride of kHop.
    gemmPacked(kFrames, ws_.window.data(), kHop, Panels{ws_.dftPanels.data(), false, 2 * kFreqBins, kFftSize},
               ws_.spectrum.data(), 2 * kFreqBins, nullptr, 0);
    pool_.run(kFrames / 100, [&](int64_t c) {
        for (int64_t t = c * 100; t < (c + 1) * 100; ++t) {
            const float* s = ws_.spectrum.data() + t * 2 * kFreqBins;
            float* p = ws_.power.data() + t * kFreqBins;
            for (int b = 0; b < kFreqBins; ++b) p[b] = s[b] * s[b] + s[kFreqBins + b] * s[kFreqBins + b];
        }
    });
    const int nm = hp().nMels;
    gemmPacked(kFrames, ws_.power.data(), kFreqBins, Panels{ws_.melPanels.data(), false, nm, kFreqBins}, mel, nm,
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

void WhisperEngine::selfAttention(const float* q, const float* k, const float* v, int64_t ldqkv, float* out) {
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
        float* s = scratch(std::size_t(qb * kb + 2 * qb));
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
                if (first) {
                    top[i] = -std::numeric_limits<float>::infinity();
                    sum[i] = k_.expShifted(s + i * kb, n, scale, &top[i]);
                    continue;
                }
                const float before = top[i];
                const float add = k_.expShifted(s + i * kb, n, scale, &top[i]);
                if (top[i] > before) {
                    const float w = std::exp(before - top[i]);
                    float* o = out + r * d + h * dh;
                    for (int64_t j = 0; j < dh; ++j) o[j] *= w;
                    sum[i] *= w;
                }
                sum[i] += add;
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
    gemmPacked(F, col, 3 * nm, encoder_conv1_p_, ws_.conv1.data(), d, encoder_conv1_b_.data(), kGemmGelu);
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
    gemmPacked(T, col, 3 * d, encoder_conv2_p_, x, d, encoder_conv2_b_.data(), kGemmGelu);
    pool_.run((T + 49) / 50, [&](int64_t c) {
        for (int64_t i = c * 50 * d; i < std::min(T, (c + 1) * 50) * d; ++i)
            x[i] += encoder_positional_embedding_[std::size_t(i)];
    });

    for (auto& Lp : enc_) {
        EncoderLayer& L = *Lp;
        layerNormRows(T, x, d, L.attn_ln_w, L.attn_ln_b, ws_.y.data());
        if (L.attn_qkv_p.n) {
            // One product for the query, key and value projections: their panels side by side.
            float* qkv = ws_.hidden.data();
            gemmPacked(T, ws_.y.data(), d, L.attn_qkv_p, qkv, 3 * d, L.attn_qkv_b.data(), 0);
            selfAttention(qkv, qkv + d, qkv + 2 * d, 3 * d, ws_.att.data());
        } else {
            gemmPacked(T, ws_.y.data(), d, L.attn_q_p, ws_.q.data(), d, L.attn_q_b.data(), 0);
            gemmPacked(T, ws_.y.data(), d, L.attn_k_p, ws_.k.data(), d, nullptr, 0);
            gemmPacked(T, ws_.y.data(), d, L.attn_v_p, ws_.v.data(), d, L.attn_v_b.data(), 0);
            selfAttention(ws_.q.data(), ws_.k.data(), ws_.v.data(), d, ws_.att.data());
        }
        gemmPacked(T, ws_.att.data(), d, L.attn_out_p, x, d, L.attn_out_b.data(), kGemmAccumulate);
        layerNormRows(T, x, d, L.mlp_ln_w, L.mlp_ln_b, ws_.y.data());
        gemmPacked(T, ws_.y.data(), d, L.mlp_0_p, ws_.hidden.data(), 4 * d, L.mlp_0_b.data(), kGemmGelu);
        gemmPacked(T, ws_.hidden.data(), 4 * d, L.mlp_2_p, x, d, L.mlp_2_b.data(), kGemmAccumulate);
    }
    layerNormRows(T, x, d, encoder_ln_post_w_, encoder_ln_post_b_, out);
}

void WhisperEngine::beginDecode(const float* enc) {
    const HyperParams& hp = file_.hp;
    const int64_t d = hp.nTextState, T = curT_;
    for (std::size_t l = 0; l < dec_.size(); ++l) {
        DecoderLayer& L = *dec_[l];
        const float* ks;
        const float* vs;
        int64_t ld;
        if (L.cross_attn_kv_p.n) {
            // Keys and values in one product: their panels side by side.
            gemmPacked(T, enc, d, L.cross_attn_kv_p, ws_.hidden.data(), 2 * d, L.cross_attn_kv_b.data(), 0);
            ks = ws_.hidden.data();
            vs = ws_.hidden.data() + d;
            ld = 2 * d;
        } else {
            gemmPacked(T, enc, d, L.cross_attn_k_p, ws_.k.data(), d, nullptr, 0);
            gemmPacked(T, enc, d, L.cross_attn_v_p, ws_.v.data(), d, L.cross_attn_v_b.data(), 0);
            ks = ws_.k.data();
            vs = ws_.v.data();
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
        const int8_t* xq;
        const float* xs;
    };
    constexpr int kMaxPieces = 512;
    Piece pieces[kMaxPieces];
    int n = 0;
    int64_t total = 0;
    for (auto& j : jobs) total += std::get<0>(j)->rows;
    // 8-bit weights: each vector quantized once for all the pieces that read it.
    constexpr int64_t qk = KernelSet::kQ8Block;
    const float* quantized[3] = {};
    int nq = 0;
    const int64_t stride = int64_t(ws_.xScales.size() / 3);
    auto xOf = [&](const Weight* w, const float* x) -> std::pair<const int8_t*, const float*> {
        if (!w->q8) return {nullptr, nullptr};
        int i = 0;
        while (i < nq && quantized[i] != x) ++i;
        if (i == nq) {
            if (nq == 3 || (w->cols + qk - 1) / qk > stride) throw Error("matrix-vector job too large");
            k_.quantize(x, w->cols, ws_.xq.data() + i * stride * qk, ws_.xScales.data() + i * stride, nullptr);
            quantized[nq++] = x;
        }
        return {ws_.xq.data() + i * stride * qk, ws_.xScales.data() + i * stride};
    };
    // About four pieces per thread, at most ~448 in all (jobs are few: one piece more each).
    int64_t chunk = roundUp(std::max({int64_t(16), total / (int64_t(pool_.size()) * 4), total / 448 + 1}), 16);
    for (auto& [w, bias, x, y] : jobs) {
        const auto [xq, xs] = xOf(w, x);
        for (int64_t r = 0; r < w->rows; r += chunk) {
            if (n == kMaxPieces) throw Error("too many matrix-vector products in one job");
            pieces[n++] = {w, bias, x, y, r, std::min(w->rows, r + chunk), xq, xs};
        }
    }
    pool_.run(n, [&](int64_t i) {
        const Piece& p = pieces[i];
        if (p.w->q8)
            k_.matvecQ8(static_cast<const int8_t*>(p.w->data), p.w->scales, p.r0, p.r1, (p.w->cols + qk - 1) / qk,
                        p.xq, p.xs, p.y, p.bias);
        else
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
    float* x = ws_.dx.data();
    {
        const Weight& emb = decoder_token_embedding_;
        if (emb.q8) {
            const int64_t blocks = (d + KernelSet::kQ8Block - 1) / KernelSet::kQ8Block;
            const int8_t* q = static_cast<const int8_t*>(emb.data) + token * blocks * KernelSet::kQ8Block;
            const float* sc = emb.scales + token * blocks;
            for (int64_t i = 0; i < d; ++i) x[i] = float(q[i]) * sc[i / KernelSet::kQ8Block];
        } else {
            const uint8_t* row = static_cast<const uint8_t*>(emb.data) + token * d * (emb.half ? 2 : 4);
            k_.toFloat(row, emb.half, d, x);
        }
        const float* p = decoder_positional_embedding_.data() + int64_t(pos_) * d;
        for (int64_t i = 0; i < d; ++i) x[i] += p[i];
    }
    const int pos = pos_;
    for (std::size_t l = 0; l < dec_.size(); ++l) {
        DecoderLayer& L = *dec_[l];
        float* kc = ws_.selfK.data() + l * ctx * d;
        float* vc = ws_.selfV.data() + l * ctx * d;
        k_.layerNorm(x, d, L.attn_ln_w.data(), L.attn_ln_b.data(), ws_.dy.data());
        matvecs({{&L.attn_q, L.attn_q_b.data(), ws_.dy.data(), ws_.dq.data()},
                 {&L.attn_k, nullptr, ws_.dy.data(), kc + pos * d},
                 {&L.attn_v, L.attn_v_b.data(), ws_.dy.data(), vc + pos * d}});
        auto selfHead = [&](int64_t h) {
            float* s = scratch(std::size_t(ctx));
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
        matvecs({{&L.attn_out, L.attn_out_b.data(), ws_.datt.data(), ws_.dtmp.data()}}, false, x);

        k_.layerNorm(x, d, L.cross_attn_ln_w.data(), L.cross_attn_ln_b.data(), ws_.dy.data());
        matvecs({{&L.cross_attn_q, L.cross_attn_q_b.data(), ws_.dy.data(), ws_.dq.data()}});
        const uint16_t* kt = crossK_ + l * T * d;
        const uint16_t* cv = crossV_ + l * T * d;
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
            float* s = scratch(std::size_t(span));
            k_.matvec(kt + (h * T + t0) * dh, true, dh, 0, n, dh, ws_.dq.data() + h * dh, s, nullptr);
            lse[i] = k_.softmax(s, n, scale);
            k_.weightedSumHalf(s, cv + (h * T + t0) * dh, dh, n, dh, o);
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
        matvecs({{&L.cross_attn_out, L.cross_attn_out_b.data(), ws_.datt.data(), ws_.dtmp.data()}}, false, x);

        k_.layerNorm(x, d, L.mlp_ln_w.data(), L.mlp_ln_b.data(), ws_.dy.data());
        matvecs({{&L.mlp_0, L.mlp_0_b.data(), ws_.dy.data(), ws_.dhid.data()}}, true);
        matvecs({{&L.mlp_2, L.mlp_2_b.data(), ws_.dhid.data(), ws_.dtmp.data()}}, false, x);
    }
    k_.layerNorm(x, d, decoder_ln_w_.data(), decoder_ln_b_.data(), ws_.dy.data());
    matvecs({{&decoder_token_embedding_, nullptr, ws_.dy.data(), ws_.logits.data()}});
    ++pos_;
    return ws_.logits.data();
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
