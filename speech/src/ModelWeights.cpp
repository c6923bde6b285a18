#include "ModelWeights.h"

#include "MappedFile.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace speech {

namespace {

std::size_t fileBytes(const Weight& w) { return std::size_t(w.rows * w.cols) * (w.half ? 2 : 4); }

}  // namespace

ModelWeights::ModelWeights(const ModelFile& file, MappedFile& map, const KernelSet& kernels, ThreadPool& pool,
                           WeightType type)
    : k_(kernels), pool_(pool), map_(map), type_(type) {
    const HyperParams& hp = file.hp;
    auto weight = [&file](const std::string& name) {
        const TensorView& t = file.tensor(name);
        Weight w;
        w.data = t.data;
        w.half = t.type == TensorType::F16;
        w.rows = t.dims[0];
        w.cols = t.elements() / t.dims[0];
        return w;
    };
    auto vec = [&](const std::string& name) {
        const TensorView& t = file.tensor(name);
        std::vector<float> v(std::size_t(t.elements()));
        k_.toFloat(t.data, t.type == TensorType::F16, t.elements(), v.data());
        return v;
    };
    auto common = [&](Layer& L, const std::string& p) {
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
    encoder.resize(std::size_t(hp.nAudioLayer));
    for (int i = 0; i < hp.nAudioLayer; ++i) {
        EncoderLayer& L = encoder[std::size_t(i)];
        common(L, "encoder.blocks." + std::to_string(i));
        L.attn_qkv_b.assign(std::size_t(3 * hp.nAudioState), 0.0f);
        std::copy(L.attn_q_b.begin(), L.attn_q_b.end(), L.attn_qkv_b.begin());
        std::copy(L.attn_v_b.begin(), L.attn_v_b.end(), L.attn_qkv_b.begin() + 2 * hp.nAudioState);
    }
    decoder.resize(std::size_t(hp.nTextLayer));
    for (int i = 0; i < hp.nTextLayer; ++i) {
        DecoderLayer& L = decoder[std::size_t(i)];
        const std::string p = "decoder.blocks." + std::to_string(i);
        common(L, p);
        L.cross_attn_q = weight(p + ".cross_attn.query.weight");
        L.cross_attn_k = weight(p + ".cross_attn.key.weight");
        L.cross_attn_v = weight(p + ".cross_attn.value.weight");
        L.cross_attn_out = weight(p + ".cross_attn.out.weight");
        L.cross_attn_q_b = vec(p + ".cross_attn.query.bias");
        L.cross_attn_v_b = vec(p + ".cross_attn.value.bias");
        L.cross_attn_out_b = vec(p + ".cross_attn.out.bias");
        L.cross_attn_kv_b.assign(std::size_t(2 * hp.nTextState), 0.0f);
        std::copy(L.cross_attn_v_b.begin(), L.cross_attn_v_b.end(), L.cross_attn_kv_b.begin() + hp.nTextState);
        L.cross_attn_ln_w = vec(p + ".cross_attn_ln.weight");
        L.cross_attn_ln_b = vec(p + ".cross_attn_ln.bias");
    }
    encoder_positional_embedding = vec("encoder.positional_embedding");
    decoder_positional_embedding = vec("decoder.positional_embedding");
    encoder_conv1 = weight("encoder.conv1.weight");
    encoder_conv2 = weight("encoder.conv2.weight");
    encoder_conv1_b = vec("encoder.conv1.bias");
    encoder_conv2_b = vec("encoder.conv2.bias");
    encoder_ln_post_w = vec("encoder.ln_post.weight");
    encoder_ln_post_b = vec("encoder.ln_post.bias");
    decoder_ln_w = vec("decoder.ln.weight");
    decoder_ln_b = vec("decoder.ln.bias");
    decoder_token_embedding = weight("decoder.token_embedding.weight");

    packEncoder();
    // TOVRIN_SPEECH_MAPPED_WEIGHTS=1 keeps the decoder's weights in the mapping (for
    // comparisons), unless they are converted to 8 bits.
    const char* mapped = std::getenv("TOVRIN_SPEECH_MAPPED_WEIGHTS");
    if (type_ == WeightType::Q8 || (HugePageBuffer::available() && !(mapped && *mapped == '1'))) {
        moveDecoder();
        // Nothing reads the mapping any more: the pages still mapped (small tensors, the
        // pages two tensors share) go too.
        map_.release(map_.data(), map_.size());
    }
}

bool ModelWeights::anyUnfused() const {
    bool unfused = false;
    for (auto& L : encoder) unfused = unfused || !L.attn_qkv_p.n;
    for (auto& L : decoder) unfused = unfused || !L.cross_attn_kv_p.n;
    return unfused;
}

void ModelWeights::copyInPieces(const std::vector<const Weight*>& ws,
                                const std::function<int64_t(std::size_t)>& rowUnit,
                                const std::function<void(std::size_t, int64_t, int64_t)>& copy) {
    struct Piece {
        std::size_t w;
        int64_t r0, r1;
    };
    std::vector<Piece> pieces;
    auto left = std::make_unique<std::atomic<int64_t>[]>(ws.size());
    for (std::size_t i = 0; i < ws.size(); ++i) {
        const int64_t rowBytes = ws[i]->cols * (ws[i]->half ? 2 : 4), unit = rowUnit(i);
        const int64_t rows = std::max<int64_t>(1, (int64_t(4) << 20) / (rowBytes * unit)) * unit;
        int64_t n = 0;
        for (int64_t r = 0; r < ws[i]->rows; r += rows, ++n) pieces.push_back({i, r, std::min(ws[i]->rows, r + rows)});
        left[i] = n;
    }
    // The pieces are handed out in order, so only the few weights being copied are resident
    // twice at any moment.
    pool_.run(int64_t(pieces.size()), [&](int64_t i) {
        const Piece& p = pieces[std::size_t(i)];
        const Weight& w = *ws[p.w];
        const std::size_t rowBytes = std::size_t(w.cols) * (w.half ? 2 : 4);
        const auto* src = static_cast<const uint8_t*>(w.data) + std::size_t(p.r0) * rowBytes;
        const std::size_t bytes = std::size_t(p.r1 - p.r0) * rowBytes;
        map_.populate(src, bytes);
        copy(p.w, p.r0, p.r1);
        map_.release(src, bytes);
        if (left[p.w].fetch_sub(1) == 1) map_.release(w.data, fileBytes(w));
    });
}

// Copies the matrices the decoder streams for every token into huge pages (the file stays in
// the page cache, outside this process).
void ModelWeights::moveDecoder() {
    std::vector<Weight*> ws;
    for (auto& L : decoder)
        for (Weight* w : {&L.attn_q, &L.attn_k, &L.attn_v, &L.attn_out, &L.cross_attn_q, &L.cross_attn_out, &L.mlp_0,
                          &L.mlp_2})
            ws.push_back(w);
    ws.push_back(&decoder_token_embedding);
    const bool q8 = type_ == WeightType::Q8;
    constexpr int64_t qk = KernelSet::kQ8Block;
    auto blocks = [](const Weight* w) { return (w->cols + qk - 1) / qk; };
    // In 8 bits: the rows' values, then their scales.
    auto movedBytes = [&](const Weight* w) { return q8 ? std::size_t(w->rows * blocks(w)) * (qk + 4) : fileBytes(*w); };
    std::size_t total = 0;
    std::vector<std::size_t> offsets;
    for (Weight* w : ws) {
        offsets.push_back(total);
        total += (movedBytes(w) + 63) / 64 * 64;
    }
    decoderWeights_ = HugePageBuffer(total);
    auto* base = static_cast<uint8_t*>(decoderWeights_.data());
    copyInPieces(
        std::vector<const Weight*>(ws.begin(), ws.end()), [](std::size_t) { return int64_t(1); },
        [&](std::size_t i, int64_t r0, int64_t r1) {
            const Weight& w = *ws[i];
            const int64_t es = w.half ? 2 : 4;
            const auto* src = static_cast<const uint8_t*>(w.data);
            uint8_t* dst = base + offsets[i];
            if (!q8) {
                std::memcpy(dst + r0 * w.cols * es, src + r0 * w.cols * es, std::size_t((r1 - r0) * w.cols * es));
                return;
            }
            const int64_t nb = blocks(&w);
            auto* values = reinterpret_cast<int8_t*>(dst);
            auto* scales = reinterpret_cast<float*>(dst + w.rows * nb * qk);
            float* row = ThreadPool::scratch(std::size_t(w.cols));
            for (int64_t r = r0; r < r1; ++r) {
                k_.toFloat(src + r * w.cols * es, w.half, w.cols, row);
                k_.quantizeRow(row, w.cols, values + r * nb * qk, scales + r * nb);
            }
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

// Packs every weight the encoder and the cross-attention set-up multiply by into panels.
// Weights whose products are fused (the query, key and value projections; the
// cross-attention keys and values) are packed side by side so that one product covers them.
void ModelWeights::packEncoder() {
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
    add(encoder_conv1, encoder_conv1_p);
    add(encoder_conv2, encoder_conv2_p);
    q8 = type_ == WeightType::Q8;
    for (auto& L : encoder) {
        group({{&L.attn_q, &L.attn_q_p}, {&L.attn_k, &L.attn_k_p}, {&L.attn_v, &L.attn_v_p}}, L.attn_qkv_p);
        add(L.attn_out, L.attn_out_p);
        add(L.mlp_0, L.mlp_0_p);
        add(L.mlp_2, L.mlp_2_p);
    }
    for (auto& L : decoder)
        group({{&L.cross_attn_k, &L.cross_attn_k_p}, {&L.cross_attn_v, &L.cross_attn_v_p}}, L.cross_attn_kv_p);
    panels_ = HugePageBuffer(total);
    auto* base = static_cast<uint8_t*>(panels_.data());
    auto rebase = [base](Panels& p) {
        if (p.n) p.data = base + reinterpret_cast<std::size_t>(p.data);
    };
    for (auto& L : encoder) rebase(L.attn_qkv_p);
    for (auto& L : decoder) rebase(L.cross_attn_kv_p);
    std::vector<const Weight*> ws;
    for (const Item& it : items) {
        *it.p = {base + it.offset, it.w->half && halfPanels && !it.q8, it.w->rows, it.w->cols, it.q8};
        ws.push_back(it.w);
    }
    // Pieces of whole panels.
    copyInPieces(
        ws, [&](std::size_t i) { return int64_t(items[i].q8 ? k_.qnr : k_.nr); },
        [&](std::size_t i, int64_t r0, int64_t r1) {
            const Weight& w = *items[i].w;
            const int nr = items[i].q8 ? k_.qnr : k_.nr;
            void* dst = const_cast<void*>(items[i].p->data);
            for (int64_t p = r0 / nr; p * nr < r1; ++p) {
                const int count = int(std::min<int64_t>(nr, w.rows - p * nr));
                if (items[i].q8)
                    k_.packQ8(w.data, w.half, w.cols, p * nr, count, w.cols,
                              static_cast<uint8_t*>(dst) + p * k_.q8PanelBytes(w.cols), false);
                else if (items[i].p->half)
                    k_.packNTHalf(static_cast<const uint16_t*>(w.data), w.cols, p * nr, count, w.cols,
                                  static_cast<uint16_t*>(dst) + p * nr * w.cols);
                else
                    k_.packNT(w.data, w.half, w.cols, p * nr, count, w.cols,
                              static_cast<float*>(dst) + p * nr * w.cols);
            }
        });
}

}  // namespace speech
