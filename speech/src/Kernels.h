// The engine's numeric kernels. Each instruction set (AVX-512, AVX2+FMA+F16C, plain x86-64)
// provides one KernelSet, compiled in its own file with its own flags; `kernels()` picks the
// best one the processor supports, once.
#pragma once

#include <cstdint>

namespace speech {

enum GemmFlags : int {
    kGemmAccumulate = 1,  // C = A B + C + bias (residual connections, partial sums)
    kGemmGelu = 2,        // C = gelu(A B + bias); not combined with kGemmAccumulate
};

struct KernelSet {
    const char* name;
    int mr;  // rows of a GEMM micro-tile
    int nr;  // columns of a GEMM micro-tile (width of a packed panel)
    // Whether f16 weights are best packed into f16 panels (tileHalf converts as it goes,
    // at no cost where the processor converts in hardware) rather than into f32 ones.
    bool halfPanels;

    // Packs columns [n0, n0 + count) of op(B) for K rows of the product into one panel of
    // K x nr floats (zero beyond count). NT: B is N x K row-major (f32 or f16), the product
    // uses its transpose. NN: B is K x N row-major f32.
    void (*packNT)(const void* b, bool half, int64_t ldb, int64_t n0, int count, int64_t k, float* panel);
    void (*packNN)(const float* b, int64_t ldb, int64_t n0, int count, int64_t k, float* panel);
    // C[rows x cols] (op) A[rows x K] * panel; rows <= mr, cols <= nr. bias may be null.
    void (*tile)(const float* a, int64_t lda, int rows, const float* panel, int64_t k, float* c, int64_t ldc,
                 int cols, const float* bias, int flags);
    // The same on panels kept in f16 (K x nr halves): weights packed once when a model is
    // loaded take no more memory than in the file, and half the memory traffic.
    void (*packNTHalf)(const uint16_t* b, int64_t ldb, int64_t n0, int count, int64_t k, uint16_t* panel);
    void (*tileHalf)(const float* a, int64_t lda, int rows, const uint16_t* panel, int64_t k, float* c, int64_t ldc,
                     int cols, const float* bias, int flags);
    // y[r] = dot(W[r], x) + bias[r] for r in [r0, r1); W is rows x k (f32 or f16), ldw elements.
    void (*matvec)(const void* w, bool half, int64_t ldw, int64_t r0, int64_t r1, int64_t k, const float* x,
                   float* y, const float* bias);
    // Elementwise helpers.
    void (*gelu)(float* x, int64_t n);
    void (*layerNorm)(const float* x, int64_t n, const float* w, const float* b, float* out);
    float (*softmax)(float* x, int64_t n, float scale);  // x = softmax(scale * x); returns log-sum-exp
    float (*logSumExp)(const float* x, int64_t n, int64_t* argmax);  // argmax may be null
    float (*dot)(const float* a, const float* b, int64_t n);
    void (*axpy)(float a, const float* x, float* y, int64_t n);  // y += a x
    // Cross-attention on f16 keys (transposed, row stride ld) and values (row stride ld).
    void (*scoresHalf)(const float* q, const uint16_t* kt, int64_t ld, int64_t dh, int64_t n, float* s);
    void (*weightedSumHalf)(const float* p, const uint16_t* v, int64_t ld, int64_t n, int64_t dh, float* o);
    void (*toHalf)(const float* src, int64_t n, uint16_t* dst, int64_t dstStride);
    void (*toFloat)(const void* src, bool half, int64_t n, float* dst);
    // x = exp(scale x - m) with m raised first to scale max(x) if that is larger; returns
    // the sum of the new x. Attention over blocks of keys, weighted together afterwards.
    float (*expShifted)(float* x, int64_t n, float scale, float* m);
};

// The set the engine runs. Throws speech::Error when TOVRIN_SPEECH_ISA names no set or one
// the processor cannot run.
const KernelSet& kernels();
// For tests and benchmarks: a named set ("avx512", "avx2", "generic") if the CPU runs it.
const KernelSet* kernelsNamed(const char* name);

namespace isa_avx512 { const KernelSet& get(); }
namespace isa_avx2 { const KernelSet& get(); }
namespace isa_generic { const KernelSet& get(); }

}  // namespace speech
