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

struct HyperParams {
    int32_t nVocab = 0;
    int32_t nAudioCtx = 0;
    int32_t nAudioState = 0;
    int32_t nAudioHead = 0;
    int32_t nAudioLayer = 0;
    int32_t nTextCtx = 0;
    int32_t nTextState = 0;
    int32_t nTextHead = 0;
    int32_t nTextLayer = 0;
    int32_t nMels = 0;
    int32_t ftype = 0;
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
