// The weights of a Whisper model, bound by name to the tensors of a mapped model file and
// made ready for the products once, at load: the encoder's matrices and the cross-attention
// keys' and values' packed into panels, the decoder's matrices (which it streams for every
// token) copied out of the mapping, or converted to 8-bit blocks with WeightType::Q8. The
// pages of the mapping are given back as the copies are made, so a load peaks near the final
// size.
#pragma once

#include "HugePageBuffer.h"
#include "Kernels.h"
#include "ModelFile.h"
#include "ProductDriver.h"
#include "ThreadPool.h"
#include "speech/Recognizer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace speech {

class MappedFile;

// Shapes are rows x columns, row-major, named after the hyper-parameters: d n_audio_state,
// dt n_text_state, T n_audio_ctx, ctx n_text_ctx, V n_vocab, mels n_mels. A weight's rows are
// the outputs of its product, its columns the inputs. Fields are named after the file's
// tensors: attn_q is <block>.attn.query.weight, mlp_0 <block>.mlp.0.weight, cross_attn_q
// <block>.cross_attn.query.weight, and so on; _w and _b are a layer norm's weight and bias, _b
// alone a projection's bias (the key projections have none); _p fields are packed panels.
class ModelWeights {
public:
    // encoder.blocks.N (D = d), and the layers of the decoder that the two share (D = dt).
    struct Layer {
        std::vector<float> attn_ln_w, attn_ln_b;       // D each
        Weight attn_q, attn_k, attn_v, attn_out;       // D x D each
        std::vector<float> attn_q_b, attn_v_b, attn_out_b;  // D each
        std::vector<float> mlp_ln_w, mlp_ln_b;         // D each
        Weight mlp_0;                                  // 4D x D
        Weight mlp_2;                                  // D x 4D
        std::vector<float> mlp_0_b;                    // 4D
        std::vector<float> mlp_2_b;                    // D
    };
    struct EncoderLayer : Layer {
        Panels attn_q_p, attn_k_p, attn_v_p, attn_out_p, mlp_0_p, mlp_2_p;  // of the weights above
        Panels attn_qkv_p;              // 3d x d: query, key and value side by side, when their panels line up
        std::vector<float> attn_qkv_b;  // 3d: their biases side by side (zeros for the key)
    };
    // decoder.blocks.N
    struct DecoderLayer : Layer {
        std::vector<float> cross_attn_ln_w, cross_attn_ln_b;                // dt each
        Weight cross_attn_q, cross_attn_k, cross_attn_v, cross_attn_out;    // dt x dt each
        std::vector<float> cross_attn_q_b, cross_attn_v_b, cross_attn_out_b;  // dt each
        // The keys and values of the cross-attention, computed once per window from the
        // encoder output.
        Panels cross_attn_k_p, cross_attn_v_p;
        Panels cross_attn_kv_p;              // 2dt x dt: both side by side, when their panels line up
        std::vector<float> cross_attn_kv_b;  // 2dt: their biases side by side (zeros for the key)
    };

    // Binds every tensor of `file` (which `map` holds) and packs or copies them; `map` gives
    // back the pages copied. With Q8 the products' weights are converted to 8-bit blocks
    // (the convolutions keep their stored type).
    ModelWeights(const ModelFile& file, MappedFile& map, const KernelSet& kernels, ThreadPool& pool,
                 WeightType type);

    std::vector<EncoderLayer> encoder;
    std::vector<DecoderLayer> decoder;
    std::vector<float> encoder_positional_embedding;  // T x d
    std::vector<float> decoder_positional_embedding;  // ctx x dt
    Weight encoder_conv1;                             // d x (mels x 3): kernel 3, taps innermost
    Weight encoder_conv2;                             // d x (d x 3)
    Panels encoder_conv1_p, encoder_conv2_p;
    std::vector<float> encoder_conv1_b, encoder_conv2_b;        // d each
    std::vector<float> encoder_ln_post_w, encoder_ln_post_b;    // d each
    Weight decoder_token_embedding;                             // V x dt: also the output projection
    std::vector<float> decoder_ln_w, decoder_ln_b;              // dt each

    // Whether some product runs unfused (q, k and v, or cross k and v, separately).
    bool anyUnfused() const;

private:
    void packEncoder();
    void moveDecoder();
    // Copies the weights piece by piece on the pool: pieces of about 4 MiB of the file, whole
    // multiples of `rowUnit(i)` rows of weight i. Each piece's pages in the mapping are
    // given back once `copy(i, r0, r1)` has copied it, and a weight's remaining ones (pages
    // shared with neighbours) with its last piece, so the copies and the file are never
    // resident in full at the same time.
    void copyInPieces(const std::vector<const Weight*>& ws, const std::function<int64_t(std::size_t)>& rowUnit,
                      const std::function<void(std::size_t, int64_t, int64_t)>& copy);

    const KernelSet& k_;
    ThreadPool& pool_;
    MappedFile& map_;
    const WeightType type_;
    HugePageBuffer panels_;          // every weight of the encoder and the cross-attention keys/values
    HugePageBuffer decoderWeights_;  // the decoder's matrices, moved out of the mapping (in 8 bits with Q8)
};

}  // namespace speech
