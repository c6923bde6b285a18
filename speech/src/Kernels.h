// The engine's numeric kernels. Each instruction set (AVX-512, AVX2+FMA+F16C, plain x86-64)
// provides one KernelSet, compiled in its own file with its own flags; `kernels()` picks the
// best one the processor supports, once.
#pragma once

#include <cstdint>

namespace speech {

enum GemmFlags : int {
    kGemmAccumulate = 1,  // C = A B + C + bias (residual connections, partial sums)
    kGemmGelu = 2,        // C = gelu(A B + bias); not combined with kGemmAccumulate
    kGemmQ8Plain = 4,     // tileQ8: A unsigned (from expQuantize), the panel packed plain
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
    // Cross-attention on f16 values (row stride ld): o = sum of p[t] v[t] over n rows of dh.
    void (*weightedSumHalf)(const float* p, const uint16_t* v, int64_t ld, int64_t n, int64_t dh, float* o);
    void (*toHalf)(const float* src, int64_t n, uint16_t* dst, int64_t dstStride);
    void (*toFloat)(const void* src, bool half, int64_t n, float* dst);
    // x = exp(scale x - m) with m raised first to scale max(x) if that is larger; returns
    // the sum of the new x. Attention over blocks of keys, weighted together afterwards.
    float (*expShifted)(float* x, int64_t n, float scale, float* m);

    // 8-bit products (weights converted when a model is loaded): blocks of 32 values, each an
    // int8 vector q and one scale s with x ~ s q and |q| <= 127. Activations are quantized the
    // same way just before each product.
    int qmr;  // rows of a micro-tile
    int qnr;  // columns of a packed panel
    int qColumnBytes;  // bytes a panel holds per column and block
    int qWeightMax;    // the panels keep weights |q| <= qWeightMax (127, or fewer where the products need it)
    int qActivationMax;  // quantizeA keeps |q| <= qActivationMax (likewise)
    int qVectorMax;      // quantizeV keeps |q| <= qVectorMax (likewise)
    // x[0, k) in blocks, zero-padded to whole blocks: values q and scales.
    void (*quantize)(const float* x, int64_t k, int8_t* q, float* scales);
    // The same, in qActivationMax levels, for the rows of A of tileQ8, stored as this set's tiles read them (the values
    // are not q where the tiles take them offset), with each block's correction for an offset
    // of the weights (-128 times the block's sum of q where the panels keep w + 128, else 0).
    void (*quantizeA)(const float* x, int64_t k, int8_t* q, float* scales, int32_t* corrections);
    // The attention's weights: expShifted's (x is left as it was; returns their sum), quantized
    // into unsigned blocks for tileQ8 with kGemmQ8Plain, in one pass.
    float (*expQuantize)(float* x, int64_t n, float scale, float* m, int8_t* q, float* scales);
    // Rows [n0, n0 + count) of B (N x K, f32 or f16) into one panel of qnr columns,
    // q8PanelBytes(k) bytes, in blocks of qWeightMax levels (s = max|w| / qWeightMax); `plain`
    // for the tiles with kGemmQ8Plain.
    void (*packQ8)(const void* b, bool half, int64_t ldb, int64_t n0, int count, int64_t k, uint8_t* panel,
                   bool plain);
    // C[rows x cols] (op) A B over `blocks` blocks of K; A quantized row by row by quantizeA
    // (values aq with row stride ldq; scales as and corrections ac with row stride lds); B a packed
    // panel from its first block on; rows <= qmr, cols <= qnr, bias may be null.
    void (*tileQ8)(const int8_t* aq, int64_t ldq, const float* as, const int32_t* ac, int64_t lds, int rows,
                   const uint8_t* panel, int64_t blocks, float* c, int64_t ldc, int cols, const float* bias,
                   int flags);
    // The decoder's products, one vector at a time: a row of a weight as matvecQ8 reads it
    // (8 bits, stored offset where the set's products need it)...
    void (*quantizeRow)(const float* x, int64_t k, int8_t* q, float* scales);
    void (*dequantizeRow)(const int8_t* q, const float* scales, int64_t k, float* x);
    // ... and the vector, in qVectorMax levels, with each block's correction for the rows' offset.
    void (*quantizeV)(const float* x, int64_t k, int8_t* q, float* scales, int32_t* corrections);
    // y[r] = W[r] . x + bias[r] for r in [r0, r1): W row-major, each row `blocks` blocks of
    // values (w) with their scales (ws, `blocks` per row); x quantized (xq, xs, xc).
    void (*matvecQ8)(const int8_t* w, const float* ws, int64_t r0, int64_t r1, int64_t blocks, const int8_t* xq,
                     const float* xs, const int32_t* xc, float* y, const float* bias);
    // Cross-attention on 8-bit values (rows of dh from quantize, dh / 32 scales each): o = sum
    // of p[t] v[t] over n rows.
    void (*weightedSumQ8)(const float* p, const int8_t* v, const float* vs, int64_t n, int64_t dh, float* o);

    static constexpr int kQ8Block = 32;
    int64_t q8PanelBytes(int64_t k) const { return (k + kQ8Block - 1) / kQ8Block * qnr * qColumnBytes; }
};

// v rounded up to a multiple of m.
inline int64_t roundUp(int64_t v, int64_t m) { return (v + m - 1) / m * m; }

// The set the engine runs. Throws speech::Error when TOVRIN_SPEECH_ISA names no set or one
// the processor cannot run.
const KernelSet& kernels();
// For tests and benchmarks: a named set ("avx512", "avx2", "generic") if the CPU runs it.
const KernelSet* kernelsNamed(const char* name);

namespace isa_avx512 { const KernelSet& get(); }
namespace isa_avx2 { const KernelSet& get(); }
namespace isa_generic { const KernelSet& get(); }

}  // namespace speech
