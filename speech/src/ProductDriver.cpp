#include "ProductDriver.h"

#include "speech/Recognizer.h"

#include <algorithm>

namespace speech {

void ProductDriver::reserveVectors(int64_t cols) {
    const int64_t blocks = (cols + KernelSet::kQ8Block - 1) / KernelSet::kQ8Block;
    xq_.resize(std::size_t(3 * blocks * KernelSet::kQ8Block));
    xScales_.resize(std::size_t(3 * blocks));
    xCorrections_.resize(std::size_t(3 * blocks));
}

void ProductDriver::pack(const Weight& w, void* dst) {
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

void ProductDriver::gemm(int64_t m, const float* a, int64_t lda, const Panels& w, float* c, int64_t ldc,
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
    // task's rows in L2 while the row tiles pass over it; partial sums wait in C. An 8-bit
    // panel is read fast enough from L2 that the tiles take the whole of K, and C is written
    // once (measured 5-12 % faster than blocks of 512).
    const int64_t kBlocks = w.q8 ? 1 : (k + 511) / 512;
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
                        k_.tileQ8(aq_.data() + r * qBlocks * qk + b0 * qk, qBlocks * qk,
                                  aScales_.data() + r * qBlocks + b0, aCorrections_.data() + r * qBlocks + b0, qBlocks,
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

void ProductDriver::quantizeRows(int64_t m, const float* a, int64_t lda, int64_t k) {
    constexpr int64_t qk = KernelSet::kQ8Block;
    const int64_t blocks = (k + qk - 1) / qk;
    if (aq_.size() < std::size_t(m * blocks * qk)) aq_.resize(std::size_t(m * blocks * qk));
    if (aScales_.size() < std::size_t(m * blocks)) {
        aScales_.resize(std::size_t(m * blocks));
        aCorrections_.resize(std::size_t(m * blocks));
    }
    const int64_t chunk = 32;
    pool_.run((m + chunk - 1) / chunk, [&](int64_t c) {
        for (int64_t r = c * chunk; r < std::min(m, (c + 1) * chunk); ++r)
            k_.quantizeA(a + r * lda, k, aq_.data() + r * blocks * qk, aScales_.data() + r * blocks,
                         aCorrections_.data() + r * blocks);
    });
}

void ProductDriver::layerNormRows(int64_t m, const float* x, int64_t d, const std::vector<float>& w,
                                  const std::vector<float>& b, float* out) {
    const int64_t chunk = 32;
    pool_.run((m + chunk - 1) / chunk, [&](int64_t c) {
        for (int64_t r = c * chunk; r < std::min(m, (c + 1) * chunk); ++r)
            k_.layerNorm(x + r * d, d, w.data(), b.data(), out + r * d);
    });
}

void ProductDriver::matvecs(std::initializer_list<std::tuple<const Weight*, const float*, const float*, float*>> jobs,
                            bool gelu, float* residual) {
    struct Piece {
        const Weight* w;
        const float* bias;
        const float* x;
        float* y;
        int64_t r0, r1;
        const int8_t* xq;
        const float* xs;
        const int32_t* xc;
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
    const int64_t stride = int64_t(xScales_.size() / 3);
    struct Quantized {
        const int8_t* q = nullptr;
        const float* s = nullptr;
        const int32_t* c = nullptr;
    };
    auto xOf = [&](const Weight* w, const float* x) -> Quantized {
        if (!w->q8) return {};
        int i = 0;
        while (i < nq && quantized[i] != x) ++i;
        if (i == nq) {
            if (nq == 3 || (w->cols + qk - 1) / qk > stride) throw Error("matrix-vector job too large");
            k_.quantizeV(x, w->cols, xq_.data() + i * stride * qk, xScales_.data() + i * stride,
                         xCorrections_.data() + i * stride);
            quantized[nq++] = x;
        }
        return {xq_.data() + i * stride * qk, xScales_.data() + i * stride, xCorrections_.data() + i * stride};
    };
    // About four pieces per thread, at most ~448 in all (jobs are few: one piece more each).
    int64_t chunk = roundUp(std::max({int64_t(16), total / (int64_t(pool_.size()) * 4), total / 448 + 1}), 16);
    for (auto& [w, bias, x, y] : jobs) {
        const Quantized xq = xOf(w, x);
        for (int64_t r = 0; r < w->rows; r += chunk) {
            if (n == kMaxPieces) throw Error("too many matrix-vector products in one job");
            pieces[n++] = {w, bias, x, y, r, std::min(w->rows, r + chunk), xq.q, xq.s, xq.c};
        }
    }
    pool_.run(n, [&](int64_t i) {
        const Piece& p = pieces[i];
        if (p.w->q8)
            k_.matvecQ8(static_cast<const int8_t*>(p.w->data), p.w->scales, p.r0, p.r1, (p.w->cols + qk - 1) / qk,
                        p.xq, p.xs, p.xc, p.y, p.bias);
        else
            k_.matvec(p.w->data, p.w->half, p.w->cols, p.r0, p.r1, p.w->cols, p.x, p.y, p.bias);
        if (gelu) k_.gelu(p.y + p.r0, p.r1 - p.r0);
        if (residual)
            for (int64_t r = p.r0; r < p.r1; ++r) residual[r] += p.y[r];
    });
}

}  // namespace speech
