// Parsing of ggml Whisper model files: hyper-parameters, mel filters, vocabulary and the
// tensor directory, with every name and shape checked. Works on a byte range, so the
// same code serves the memory-mapped loader and the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace speech {

enum class TensorType : int32_t { F32 = 0, F16 = 1 };

// The model's shape, as the file's header gives it (base: 51865, 1500, 512, 8, 6, 448, 512,
// 8, 6, 80; large-v3-turbo: 51866, 1500, 1280, 20, 32, 448, 1280, 20, 4, 128).
struct HyperParams {
    int32_t nVocab = 0;       // tokens: the ordinary ones, then the special ones
    int32_t nAudioCtx = 0;    // encoder positions of a 30 s window (two mel frames each)
    int32_t nAudioState = 0;  // width of the encoder's residual stream
    int32_t nAudioHead = 0;   // encoder attention heads (head width nAudioState / nAudioHead)
    int32_t nAudioLayer = 0;  // encoder blocks
    int32_t nTextCtx = 0;     // decoder positions: the longest token sequence of a window
    int32_t nTextState = 0;   // width of the decoder's residual stream
    int32_t nTextHead = 0;    // decoder attention heads (head width nTextState / nTextHead)
    int32_t nTextLayer = 0;   // decoder blocks
    int32_t nMels = 0;        // mel bands of the front end (80, or 128 from large-v3 on)
    int32_t ftype = 0;        // type of the weight matrices: 0 f32, 1 f16
};

// A tensor inside the file. `dims` lists the sizes outermost first (row-major order).
struct TensorView {
    TensorType type = TensorType::F32;
    std::vector<int64_t> dims;
    const uint8_t* data = nullptr;  // not necessarily aligned
    int64_t elements() const;
};

struct ModelFile {
    HyperParams hp;
    int32_t melBins = 0;
    int32_t melFft = 0;
    std::vector<float> melFilters;    // melBins x melFft
    std::vector<std::string> vocab;   // ordinary tokens as stored (raw bytes)
    std::map<std::string, TensorView> tensors;

    const TensorView& tensor(const std::string& name) const;
};

// Human-readable name of a ggml tensor type or file type ("f16", "q8_0", ...).
std::string tensorTypeName(int32_t type);
std::string fileTypeName(int32_t ftype);

// The tensor names and shapes (outermost first) a model with these hyper-parameters holds.
std::vector<std::pair<std::string, std::vector<int64_t>>> expectedTensors(const HyperParams& hp);

// Parses and validates `size` bytes. Throws speech::Error naming the problem.
ModelFile parseModel(const uint8_t* data, std::size_t size);

}  // namespace speech
