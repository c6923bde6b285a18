#include "ModelFile.h"

#include "speech/Recognizer.h"

#include <cstdio>
#include <cstring>
#include <set>

namespace speech {

namespace {

constexpr uint32_t kMagic = 0x67676D6C;

class Reader {
public:
    Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t offset() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }

    void need(std::size_t n, const char* what) const {
        if (n > remaining())
            throw Error("model file is truncated: " + std::string(what) + " at byte " + std::to_string(pos_) +
                        " needs " + std::to_string(n) + " bytes, " + std::to_string(remaining()) + " left");
    }
    int32_t i32(const char* what) {
        need(4, what);
        int32_t v;
        std::memcpy(&v, data_ + pos_, 4);
        pos_ += 4;
        return v;
    }
    uint32_t u32(const char* what) { return static_cast<uint32_t>(i32(what)); }
    const uint8_t* take(std::size_t n, const char* what) {
        need(n, what);
        const uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

std::string shapeText(const std::vector<int64_t>& dims) {
    std::string s = "(";
    for (std::size_t i = 0; i < dims.size(); ++i) {
        if (i) s += ", ";
        s += std::to_string(dims[i]);
    }
    return s + ")";
}

void checkRange(const char* name, int32_t value, int32_t lo, int32_t hi) {
    if (value < lo || value > hi)
        throw Error("model file has an invalid " + std::string(name) + " (" + std::to_string(value) +
                    ", expected " + std::to_string(lo) + ".." + std::to_string(hi) + ")");
}

void checkHyperParams(const HyperParams& hp) {
    checkRange("n_vocab", hp.nVocab, 51864, 51866);
    checkRange("n_audio_ctx", hp.nAudioCtx, 1500, 1500);
    checkRange("n_audio_state", hp.nAudioState, 1, 8192);
    checkRange("n_audio_head", hp.nAudioHead, 1, 256);
    checkRange("n_audio_layer", hp.nAudioLayer, 1, 256);
    checkRange("n_text_ctx", hp.nTextCtx, 8, 4096);
    checkRange("n_text_state", hp.nTextState, 1, 8192);
    checkRange("n_text_head", hp.nTextHead, 1, 256);
    checkRange("n_text_layer", hp.nTextLayer, 1, 256);
    checkRange("n_mels", hp.nMels, 1, 512);
    if (hp.nAudioState % hp.nAudioHead != 0)
        throw Error("model file has n_audio_state not divisible by n_audio_head");
    if (hp.nTextState % hp.nTextHead != 0)
        throw Error("model file has n_text_state not divisible by n_text_head");
    if (hp.nAudioState != hp.nTextState)
        throw Error("model file has different encoder and decoder widths (" + std::to_string(hp.nAudioState) +
                    " and " + std::to_string(hp.nTextState) + ")");
    if (hp.ftype < 0) throw Error("model file has an invalid file type " + std::to_string(hp.ftype));
    int32_t ft = hp.ftype % 1000;
    if (ft != 0 && ft != 1)
        throw Error("model file is quantised (" + fileTypeName(ft) + "); only f32 and f16 models are supported");
}

}  // namespace

int64_t TensorView::elements() const {
    int64_t n = 1;
    for (int64_t d : dims) n *= d;
    return n;
}

const TensorView& ModelFile::tensor(const std::string& name) const {
    auto it = tensors.find(name);
    if (it == tensors.end()) throw Error("model file has no tensor " + name);
    return it->second;
}

std::string tensorTypeName(int32_t type) {
    switch (type) {
    case 0: return "f32";
    case 1: return "f16";
    case 2: return "q4_0";
    case 3: return "q4_1";
    case 6: return "q5_0";
    case 7: return "q5_1";
    case 8: return "q8_0";
    case 9: return "q8_1";
    case 10: return "q2_K";
    case 11: return "q3_K";
    case 12: return "q4_K";
    case 13: return "q5_K";
    case 14: return "q6_K";
    case 15: return "q8_K";
    default: return "unknown type " + std::to_string(type);
    }
}

std::string fileTypeName(int32_t ftype) {
    switch (ftype) {
    case 0: return "f32";
    case 1: return "f16";
    case 2: return "q4_0";
    case 3: return "q4_1";
    case 4: return "q4_1 with f16";
    case 7: return "q8_0";
    case 8: return "q5_0";
    case 9: return "q5_1";
    case 10: return "q2_K";
    case 11: return "q3_K_S";
    case 12: return "q3_K_M";
    case 13: return "q3_K_L";
    case 14: return "q4_K_S";
    case 15: return "q4_K_M";
    case 16: return "q5_K_S";
    case 17: return "q5_K_M";
    case 18: return "q6_K";
    default: return "unknown file type " + std::to_string(ftype);
    }
}

std::vector<std::pair<std::string, std::vector<int64_t>>> expectedTensors(const HyperParams& hp) {
    std::vector<std::pair<std::string, std::vector<int64_t>>> t;
    const int64_t da = hp.nAudioState, dt = hp.nTextState;
    t.push_back({"encoder.positional_embedding", {hp.nAudioCtx, da}});
    t.push_back({"encoder.conv1.weight", {da, hp.nMels, 3}});
    t.push_back({"encoder.conv1.bias", {da, 1}});
    t.push_back({"encoder.conv2.weight", {da, da, 3}});
    t.push_back({"encoder.conv2.bias", {da, 1}});
    auto attention = [&t](const std::string& p, int64_t d) {
        t.push_back({p + ".query.weight", {d, d}});
        t.push_back({p + ".query.bias", {d}});
        t.push_back({p + ".key.weight", {d, d}});
        t.push_back({p + ".value.weight", {d, d}});
        t.push_back({p + ".value.bias", {d}});
        t.push_back({p + ".out.weight", {d, d}});
        t.push_back({p + ".out.bias", {d}});
    };
    auto norm = [&t](const std::string& p, int64_t d) {
        t.push_back({p + ".weight", {d}});
        t.push_back({p + ".bias", {d}});
    };
    auto mlp = [&t](const std::string& p, int64_t d) {
        t.push_back({p + ".mlp.0.weight", {4 * d, d}});
        t.push_back({p + ".mlp.0.bias", {4 * d}});
        t.push_back({p + ".mlp.2.weight", {d, 4 * d}});
        t.push_back({p + ".mlp.2.bias", {d}});
    };
    for (int i = 0; i < hp.nAudioLayer; ++i) {
        std::string p = "encoder.blocks." + std::to_string(i);
        attention(p + ".attn", da);
        norm(p + ".attn_ln", da);
        mlp(p, da);
        norm(p + ".mlp_ln", da);
    }
    norm("encoder.ln_post", da);
    t.push_back({"decoder.positional_embedding", {hp.nTextCtx, dt}});
    t.push_back({"decoder.token_embedding.weight", {hp.nVocab, dt}});
    for (int i = 0; i < hp.nTextLayer; ++i) {
        std::string p = "decoder.blocks." + std::to_string(i);
        attention(p + ".attn", dt);
        norm(p + ".attn_ln", dt);
        attention(p + ".cross_attn", dt);
        norm(p + ".cross_attn_ln", dt);
        mlp(p, dt);
        norm(p + ".mlp_ln", dt);
    }
    norm("decoder.ln", dt);
    return t;
}

ModelFile parseModel(const uint8_t* data, std::size_t size) {
    Reader r(data, size);
    ModelFile m;
    uint32_t magic = r.u32("magic");
    if (magic != kMagic) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08X", magic);
        throw Error(std::string("not a ggml model file (bad magic ") + buf + ")");
    }
    HyperParams& hp = m.hp;
    hp.nVocab = r.i32("n_vocab");
    hp.nAudioCtx = r.i32("n_audio_ctx");
    hp.nAudioState = r.i32("n_audio_state");
    hp.nAudioHead = r.i32("n_audio_head");
    hp.nAudioLayer = r.i32("n_audio_layer");
    hp.nTextCtx = r.i32("n_text_ctx");
    hp.nTextState = r.i32("n_text_state");
    hp.nTextHead = r.i32("n_text_head");
    hp.nTextLayer = r.i32("n_text_layer");
    hp.nMels = r.i32("n_mels");
    hp.ftype = r.i32("ftype");
    checkHyperParams(hp);

    m.melBins = r.i32("mel filter size");
    m.melFft = r.i32("mel filter size");
    if (m.melBins != hp.nMels)
        throw Error("model file's mel filter bank has " + std::to_string(m.melBins) + " bins, expected n_mels = " +
                    std::to_string(hp.nMels));
    if (m.melFft != 201)
        throw Error("model file's mel filter bank has " + std::to_string(m.melFft) +
                    " frequency bins, expected 201");
    std::size_t nFilter = std::size_t(m.melBins) * std::size_t(m.melFft);
    const uint8_t* filt = r.take(nFilter * 4, "mel filters");
    m.melFilters.resize(nFilter);
    std::memcpy(m.melFilters.data(), filt, nFilter * 4);

    int32_t nTokens = r.i32("vocabulary size");
    if (nTokens < 0 || nTokens > hp.nVocab)
        throw Error("model file's vocabulary has " + std::to_string(nTokens) + " tokens, n_vocab is " +
                    std::to_string(hp.nVocab));
    m.vocab.reserve(nTokens);
    for (int32_t i = 0; i < nTokens; ++i) {
        uint32_t len = r.u32("token length");
        if (len > 4096) throw Error("model file's token " + std::to_string(i) + " is implausibly long");
        const uint8_t* p = r.take(len, "token bytes");
        m.vocab.emplace_back(reinterpret_cast<const char*>(p), len);
    }

    auto expected = expectedTensors(hp);
    std::map<std::string, const std::vector<int64_t>*> want;
    for (auto& e : expected) want.emplace(e.first, &e.second);

    while (r.remaining() > 0) {
        int32_t nDims = r.i32("tensor header");
        int32_t nameLen = r.i32("tensor header");
        int32_t type = r.i32("tensor header");
        if (nDims < 1 || nDims > 4)
            throw Error("model file has a tensor with " + std::to_string(nDims) + " dimensions at byte " +
                        std::to_string(r.offset() - 12));
        if (nameLen < 1 || nameLen > 256)
            throw Error("model file has a tensor name of length " + std::to_string(nameLen));
        std::vector<int64_t> dims(nDims);
        for (int i = 0; i < nDims; ++i) {
            int32_t d = r.i32("tensor dimensions");
            if (d < 1) throw Error("model file has a tensor dimension of " + std::to_string(d));
            dims[nDims - 1 - i] = d;  // stored innermost first
        }
        const uint8_t* namePtr = r.take(std::size_t(nameLen), "tensor name");
        std::string name(reinterpret_cast<const char*>(namePtr), std::size_t(nameLen));
        if (type != 0 && type != 1)
            throw Error("tensor " + name + " has type " + tensorTypeName(type) +
                        "; only f32 and f16 tensors are supported");
        auto it = want.find(name);
        if (it == want.end()) throw Error("model file has an unexpected tensor " + name);
        if (m.tensors.count(name)) throw Error("model file has tensor " + name + " twice");
        // Trailing dimensions of size 1 (a bias stored as (d, 1)) and missing ones are the same.
        auto norm = [](std::vector<int64_t> v) {
            while (v.size() > 1 && v.back() == 1) v.pop_back();
            return v;
        };
        if (norm(dims) != norm(*it->second))
            throw Error("tensor " + name + " has shape " + shapeText(dims) + ", expected " + shapeText(*it->second));
        TensorView tv;
        tv.type = static_cast<TensorType>(type);
        tv.dims = *it->second;
        uint64_t bytes = uint64_t(tv.elements()) * (type == 0 ? 4u : 2u);
        if (bytes > r.remaining())
            throw Error("model file is truncated: tensor " + name + " needs " + std::to_string(bytes) + " bytes, " +
                        std::to_string(r.remaining()) + " left");
        tv.data = r.take(std::size_t(bytes), "tensor data");
        m.tensors.emplace(name, tv);
    }
    for (auto& e : expected)
        if (!m.tensors.count(e.first)) throw Error("model file has no tensor " + e.first + " (file truncated?)");
    return m;
}

}  // namespace speech
