// The engine's matrix products, spread over the thread pool: products of many rows with
// weights packed into panels (tiled for the caches), matrix-vector products of the decoder,
// and row-wise layer norms. The kernels do the arithmetic; this class cuts the work into
// tasks and, for 8-bit weights, quantizes the activations first.
#pragma once

#include "Kernels.h"
#include "ThreadPool.h"

#include <cstdint>
#include <initializer_list>
#include <tuple>
#include <vector>

namespace speech {

// A weight matrix (rows x cols, row-major): as stored in the file (f32 or f16), or in 8-bit
// blocks (q8: each row cols rounded up to whole blocks of int8 values, `scales` one float per
// block of each row).
struct Weight {
    const void* data = nullptr;
    bool half = false;
    int64_t rows = 0, cols = 0;
    bool q8 = false;
    const float* scales = nullptr;
};

// A weight packed once, when the model is loaded, into the panels the matrix products read:
// f16 panels for an f16 weight (no more memory than in the file), f32 panels otherwise.
// With q8, 8-bit panels (KernelSet::packQ8) instead.
struct Panels {
    const void* data = nullptr;
    bool half = false;
    int64_t n = 0, k = 0;  // output columns (the weight's rows) and the inner dimension
    bool q8 = false;
};

class ProductDriver {
public:
    ProductDriver(const KernelSet& kernels, ThreadPool& pool) : k_(kernels), pool_(pool) {}

    // Room for the 8-bit matrix-vector jobs: up to three vectors of up to `cols` values.
    void reserveVectors(int64_t cols);

    // C (m x w.n, row stride ldc) (op) A (m x w.k, row stride lda) times the packed weight's
    // transpose, plus bias (w.n values, may be null); flags are GemmFlags.
    void gemm(int64_t m, const float* a, int64_t lda, const Panels& w, float* c, int64_t ldc, const float* bias,
              int flags);
    // Products of the given matrices with vectors (weight, bias or null, x, y), all in one job;
    // each piece of rows then goes through gelu, or is added into `residual`, if asked.
    void matvecs(std::initializer_list<std::tuple<const Weight*, const float*, const float*, float*>> jobs,
                 bool gelu = false, float* residual = nullptr);
    // Packs an f32 or f16 weight into the panels gemm() reads (roundUp(rows, nr) x cols values,
    // in the weight's own type).
    void pack(const Weight& w, void* dst);
    // out[r] = layerNorm(x[r]) for m rows of d values.
    void layerNormRows(int64_t m, const float* x, int64_t d, const std::vector<float>& w, const std::vector<float>& b,
                       float* out);

private:
    // Quantizes the m rows of A for an 8-bit product into aq_ / aScales_ / aCorrections_.
    void quantizeRows(int64_t m, const float* a, int64_t lda, int64_t k);

    const KernelSet& k_;
    ThreadPool& pool_;
    // 8-bit products: the rows of A quantized (m x K rounded up to blocks; a scale and a
    // correction per block), grown on demand and kept; up to three vectors of a matrix-vector job.
    std::vector<int8_t> aq_;
    std::vector<float> aScales_;
    std::vector<int32_t> aCorrections_;
    std::vector<int8_t> xq_;
    std::vector<float> xScales_;
    std::vector<int32_t> xCorrections_;
};

}  // namespace speech
