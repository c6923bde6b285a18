// make-test-model: writes a structurally valid ggml Whisper model file with deterministic
// random weights, for tests and benchmarks (real weights cannot be fetched here).
//
// Every weight is rounded to a value that f16 represents exactly, so the f32 and f16 files
// written with the same seed hold the same numbers. The decoder is shaped so that greedy
// decoding emits a varied run of ordinary tokens and then end-of-text: its positional
// embedding carries a ramp in channel 0 that the end-of-text embedding row reads.
#include "../src/ModelFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    speech::HyperParams hp{51865, 1500, 384, 6, 4, 448, 384, 6, 4, 80, 1};
    std::string out;
    uint64_t seed = 1;
    int eotAfter = 12;
    bool noSpeech = false;
    bool peaked = false;
};

// --peaked: decoder position t carries a spike in channel 1 + t % kPeakWords that one word's
// embedding row reads (and position 0's spike one language's row), so each step's best token
// leads the others by a wide margin, as in a trained model, rather than by the hair's breadth
// that separates the top two of 51,865 random logits.
constexpr int kPeakWords = 16;
int peakWord(int j) { return 1000 + j * 2957; }
constexpr int kPeakLanguage = 2;  // "de"

void usage(FILE* f) {
    std::fprintf(f,
                 "usage: make-test-model [options] -o FILE\n"
                 "Writes a ggml Whisper model file with deterministic random weights.\n\n"
                 "  --preset NAME      tiny, base, small, medium, large-v3, large-v3-turbo, test\n"
                 "                     (test: state 64, 2 heads, 2+2 layers, 80 mels; default tiny)\n"
                 "  --state N          encoder and decoder width\n"
                 "  --heads N          attention heads (encoder and decoder)\n"
                 "  --layers N         encoder and decoder layers\n"
                 "  --enc-layers N     encoder layers\n"
                 "  --dec-layers N     decoder layers\n"
                 "  --mels N           mel bins (80 or 128)\n"
                 "  --vocab N          n_vocab: 51865 multilingual, 51866 v3, 51864 English-only\n"
                 "  --text-ctx N       decoder context (default 448)\n"
                 "  --ftype 0|1        0: all f32, 1: matrices f16 (default 1)\n"
                 "  --seed N           random seed (default 1)\n"
                 "  --eot-after N      greedy decoding ends after about N tokens (default 12)\n"
                 "  --no-speech        every window reads as silence (the no-speech test fires)\n"
                 "  --peaked           each decoder step's best token (and the language) leads by a wide\n"
                 "                     margin: comparisons of slightly different arithmetic agree\n"
                 "  -o, --out FILE     output path\n"
                 "  -h, --help         this text\n");
}

bool preset(const std::string& name, speech::HyperParams& hp) {
    auto set = [&hp](int vocab, int state, int heads, int encLayers, int decLayers, int mels) {
        hp.nVocab = vocab;
        hp.nAudioState = hp.nTextState = state;
        hp.nAudioHead = hp.nTextHead = heads;
        hp.nAudioLayer = encLayers;
        hp.nTextLayer = decLayers;
        hp.nMels = mels;
    };
    if (name == "tiny") set(51865, 384, 6, 4, 4, 80);
    else if (name == "base") set(51865, 512, 8, 6, 6, 80);
    else if (name == "small") set(51865, 768, 12, 12, 12, 80);
    else if (name == "medium") set(51865, 1024, 16, 24, 24, 80);
    else if (name == "large-v3") set(51866, 1280, 20, 32, 32, 128);
    else if (name == "large-v3-turbo") set(51866, 1280, 20, 32, 4, 128);
    else if (name == "test") set(51865, 64, 2, 2, 2, 80);
    else return false;
    return true;
}

// Round-to-nearest-even float -> IEEE half.
uint16_t toHalf(float f) {
    uint32_t x;
    std::memcpy(&x, &f, 4);
    uint32_t sign = (x >> 16) & 0x8000u;
    int32_t exp = int32_t((x >> 23) & 0xFF) - 127 + 15;
    uint32_t mant = x & 0x7FFFFFu;
    if (exp >= 31) return uint16_t(sign | 0x7C00u);
    if (exp <= 0) {
        if (exp < -10) return uint16_t(sign);
        mant |= 0x800000u;
        int shift = 14 - exp;
        uint32_t half = mant >> shift;
        uint32_t rem = mant & ((1u << shift) - 1);
        uint32_t mid = 1u << (shift - 1);
        if (rem > mid || (rem == mid && (half & 1))) ++half;
        return uint16_t(sign | half);
    }
    uint32_t half = sign | (uint32_t(exp) << 10) | (mant >> 13);
    uint32_t rem = mant & 0x1FFFu;
    if (rem > 0x1000u || (rem == 0x1000u && (half & 1))) ++half;
    return uint16_t(half);
}

float fromHalf(uint16_t h) {
    uint32_t sign = uint32_t(h & 0x8000u) << 16;
    uint32_t exp = (h >> 10) & 0x1F;
    uint32_t mant = h & 0x3FFu;
    uint32_t x;
    if (exp == 0) {
        if (mant == 0) x = sign;
        else {
            int e = -1;
            do { ++e; mant <<= 1; } while (!(mant & 0x400u));
            x = sign | (uint32_t(127 - 15 - e) << 23) | ((mant & 0x3FFu) << 13);
        }
    } else if (exp == 31) x = sign | 0x7F800000u | (mant << 13);
    else x = sign | ((exp + 127 - 15) << 23) | (mant << 13);
    float f;
    std::memcpy(&f, &x, 4);
    return f;
}

struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x1234567ull) {}
    uint64_t next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    float uniform() { return float(next() >> 40) * (1.0f / 16777216.0f); }  // [0, 1)
    float symmetric() { return 2.0f * uniform() - 1.0f; }                 // [-1, 1)
};

uint64_t hashName(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

// Slaney-style mel filter bank for 16 kHz audio and a 400-point FFT, area-normalised.
std::vector<float> melFilters(int nMels) {
    const int nFft = 201;
    const double fMin = 0.0, fMax = 8000.0;
    auto hzToMel = [](double f) {
        const double fSp = 200.0 / 3.0, minLogHz = 1000.0, minLogMel = minLogHz / fSp;
        const double logStep = std::log(6.4) / 27.0;
        return f < minLogHz ? f / fSp : minLogMel + std::log(f / minLogHz) / logStep;
    };
    auto melToHz = [](double m) {
        const double fSp = 200.0 / 3.0, minLogHz = 1000.0, minLogMel = minLogHz / fSp;
        const double logStep = std::log(6.4) / 27.0;
        return m < minLogMel ? m * fSp : minLogHz * std::exp(logStep * (m - minLogMel));
    };
    std::vector<double> hz(nMels + 2);
    double m0 = hzToMel(fMin), m1 = hzToMel(fMax);
    for (int i = 0; i < nMels + 2; ++i) hz[i] = melToHz(m0 + (m1 - m0) * i / (nMels + 1));
    std::vector<float> w(std::size_t(nMels) * nFft);
    for (int m = 0; m < nMels; ++m) {
        double enorm = 2.0 / (hz[m + 2] - hz[m]);
        for (int k = 0; k < nFft; ++k) {
            double f = 8000.0 * k / (nFft - 1);
            double lower = (f - hz[m]) / (hz[m + 1] - hz[m]);
            double upper = (hz[m + 2] - f) / (hz[m + 2] - hz[m + 1]);
            double v = std::max(0.0, std::min(lower, upper));
            w[std::size_t(m) * nFft + k] = float(v * enorm);
        }
    }
    return w;
}

// The GPT-2 order of the 256 single-byte tokens.
std::vector<int> byteOrder() {
    std::vector<int> order;
    std::vector<bool> used(256, false);
    for (int b = 0x21; b <= 0x7E; ++b) order.push_back(b), used[b] = true;
    for (int b = 0xA1; b <= 0xAC; ++b) order.push_back(b), used[b] = true;
    for (int b = 0xAE; b <= 0xFF; ++b) order.push_back(b), used[b] = true;
    for (int b = 0; b < 256; ++b)
        if (!used[b]) order.push_back(b);
    return order;
}

std::vector<std::string> vocabulary(int count, uint64_t seed) {
    std::vector<std::string> v;
    for (int b : byteOrder()) v.push_back(std::string(1, char(b)));
    static const char* onsets[] = {"b", "c", "d", "f", "g", "h", "k", "l", "m", "n", "p", "r", "s", "t",
                                   "v", "w", "z", "br", "st", "th", "sh", "ch", "tr", "pl", ""};
    static const char* nuclei[] = {"a", "e", "i", "o", "u", "ai", "ea", "ou", "io", "y"};
    static const char* codas[] = {"", "", "n", "r", "s", "t", "l", "m", "ng", "ck", "st"};
    Rng rng(seed ^ 0xABCDEFull);
    while (int(v.size()) < count) {
        std::string t = (rng.next() & 1) ? " " : "";
        int syll = 1 + int(rng.next() % 3);
        for (int s = 0; s < syll; ++s) {
            t += onsets[rng.next() % (sizeof onsets / sizeof *onsets)];
            t += nuclei[rng.next() % (sizeof nuclei / sizeof *nuclei)];
            t += codas[rng.next() % (sizeof codas / sizeof *codas)];
        }
        v.push_back(t);
    }
    v.resize(count);
    return v;
}

class Writer {
public:
    explicit Writer(const std::string& path) : f_(std::fopen(path.c_str(), "wb")) {
        if (!f_) {
            std::perror(path.c_str());
            std::exit(1);
        }
        std::setvbuf(f_, nullptr, _IOFBF, 1 << 22);
    }
    ~Writer() {
        if (std::fclose(f_) != 0) {
            std::perror("close");
            std::exit(1);
        }
    }
    void bytes(const void* p, std::size_t n) {
        if (n && std::fwrite(p, 1, n, f_) != n) {
            std::perror("write");
            std::exit(1);
        }
    }
    void i32(int32_t v) { bytes(&v, 4); }

private:
    FILE* f_;
};

// The direction that position 0 carries and the no-speech embedding row reads (--no-speech).
float noSpeechDirection(uint64_t seed, int64_t channel) {
    Rng rng(seed ^ 0x5EED5EEDull ^ (uint64_t(channel) * 0x9E3779B97F4A7C15ull));
    return std::sqrt(3.0f) * rng.symmetric();
}

enum class Init { Uniform, Ones, Zeros, Sinusoid, DecoderPositions };

void writeTensor(Writer& w, const std::string& name, const std::vector<int64_t>& dims, bool half, Init init,
                 float scale, const Options& o) {
    int64_t n = 1;
    for (int64_t d : dims) n *= d;
    w.i32(int32_t(dims.size()));
    w.i32(int32_t(name.size()));
    w.i32(half ? 1 : 0);
    for (auto it = dims.rbegin(); it != dims.rend(); ++it) w.i32(int32_t(*it));
    w.bytes(name.data(), name.size());

    Rng rng(o.seed ^ hashName(name));
    const int64_t cols = dims.back();
    std::vector<uint16_t> hbuf;
    std::vector<float> fbuf;
    const int64_t chunk = 1 << 16;
    for (int64_t start = 0; start < n; start += chunk) {
        int64_t len = std::min(chunk, n - start);
        hbuf.resize(len);
        fbuf.resize(len);
        for (int64_t i = 0; i < len; ++i) {
            int64_t idx = start + i;
            float v = 0;
            switch (init) {
            case Init::Uniform: v = scale * rng.symmetric(); break;
            case Init::Ones: v = 1.0f + scale * rng.symmetric(); break;
            case Init::Zeros: v = scale * rng.symmetric(); break;
            case Init::Sinusoid: {
                int64_t t = idx / cols, c = idx % cols, half = cols / 2;
                double inc = std::log(10000.0) / double(half - 1 > 0 ? half - 1 : 1);
                double time = double(t) * std::exp(-inc * double(c % half));
                v = float(c < half ? std::sin(time) : std::cos(time));
                break;
            }
            case Init::DecoderPositions: {
                int64_t t = idx / cols, c = idx % cols;
                v = c == 0 ? 1.5f * float(t - (o.eotAfter + 4)) : scale * rng.symmetric();
                if (o.peaked && c == 1 + t % kPeakWords) v += 24.0f;
                if (o.noSpeech && t == 0 && c > 0) v = 6.0f * noSpeechDirection(o.seed, c);
                break;
            }
            }
            hbuf[i] = toHalf(v);
            fbuf[i] = fromHalf(hbuf[i]);
        }
        if (half) w.bytes(hbuf.data(), std::size_t(len) * 2);
        else w.bytes(fbuf.data(), std::size_t(len) * 4);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "make-test-model: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&]() { return std::atoi(value().c_str()); };
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--preset") {
            std::string p = value();
            if (!preset(p, o.hp)) {
                std::fprintf(stderr, "make-test-model: unknown preset %s\n", p.c_str());
                return 2;
            }
        } else if (a == "--state") o.hp.nAudioState = o.hp.nTextState = number();
        else if (a == "--heads") o.hp.nAudioHead = o.hp.nTextHead = number();
        else if (a == "--layers") o.hp.nAudioLayer = o.hp.nTextLayer = number();
        else if (a == "--enc-layers") o.hp.nAudioLayer = number();
        else if (a == "--dec-layers") o.hp.nTextLayer = number();
        else if (a == "--mels") o.hp.nMels = number();
        else if (a == "--vocab") o.hp.nVocab = number();
        else if (a == "--text-ctx") o.hp.nTextCtx = number();
        else if (a == "--ftype") o.hp.ftype = number();
        else if (a == "--seed") o.seed = std::strtoull(value().c_str(), nullptr, 10);
        else if (a == "--eot-after") o.eotAfter = number();
        else if (a == "--no-speech") o.noSpeech = true;
        else if (a == "--peaked") o.peaked = true;
        else if (a == "-o" || a == "--out") o.out = value();
        else {
            std::fprintf(stderr, "make-test-model: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (o.out.empty()) {
        usage(stderr);
        return 2;
    }
    const auto& hp = o.hp;
    if (hp.ftype != 0 && hp.ftype != 1) {
        std::fprintf(stderr, "make-test-model: --ftype must be 0 or 1\n");
        return 2;
    }
    if (hp.nAudioState <= 0 || hp.nAudioHead <= 0 || hp.nAudioState % hp.nAudioHead != 0 || hp.nAudioLayer <= 0 ||
        hp.nTextLayer <= 0 || hp.nMels <= 0 || hp.nTextCtx < 8 ||
        (hp.nVocab != 51864 && (hp.nVocab < 51767 || hp.nVocab > 51866))) {
        std::fprintf(stderr, "make-test-model: inconsistent shape\n");
        return 2;
    }

    Writer w(o.out);
    w.i32(0x67676D6C);
    for (int32_t v : {hp.nVocab, hp.nAudioCtx, hp.nAudioState, hp.nAudioHead, hp.nAudioLayer, hp.nTextCtx,
                      hp.nTextState, hp.nTextHead, hp.nTextLayer, hp.nMels, hp.ftype})
        w.i32(v);
    auto filters = melFilters(hp.nMels);
    w.i32(hp.nMels);
    w.i32(201);
    w.bytes(filters.data(), filters.size() * 4);
    const bool english = hp.nVocab == 51864;
    auto vocab = vocabulary(english ? 50256 : 50257, o.seed);
    w.i32(int32_t(vocab.size()));
    for (auto& t : vocab) {
        w.i32(int32_t(t.size()));
        w.bytes(t.data(), t.size());
    }
    const int eot = english ? 50256 : 50257;
    const int noSpeechToken = english ? 50361 : 50257 + 1 + 1 + (hp.nVocab - 51766) + 4;

    for (auto& [name, dims] : speech::expectedTensors(hp)) {
        const bool matrix = dims.size() >= 2 && name.find("positional_embedding") == std::string::npos &&
                            name.find(".bias") == std::string::npos;
        const bool half = hp.ftype == 1 && matrix;
        auto ends = [&name](const char* s) {
            std::size_t n = std::strlen(s);
            return name.size() >= n && name.compare(name.size() - n, n, s) == 0;
        };
        if (name == "encoder.positional_embedding") {
            writeTensor(w, name, dims, half, Init::Sinusoid, 0, o);
        } else if (name == "decoder.positional_embedding") {
            writeTensor(w, name, dims, half, Init::DecoderPositions, 1.0f * std::sqrt(3.0f), o);
        } else if (name == "decoder.token_embedding.weight") {
            // Written row by row so the end-of-text row can be the channel-0 reader.
            const int64_t d = dims[1];
            float scale = std::sqrt(3.0f / float(d));
            w.i32(2);
            w.i32(int32_t(name.size()));
            w.i32(half ? 1 : 0);
            w.i32(int32_t(d));
            w.i32(int32_t(dims[0]));
            w.bytes(name.data(), name.size());
            Rng rng(o.seed ^ hashName(name));
            std::vector<uint16_t> hrow(d);
            std::vector<float> frow(d);
            for (int64_t r = 0; r < dims[0]; ++r) {
                for (int64_t c = 0; c < d; ++c) {
                    float v = scale * rng.symmetric();
                    if (r == eot) v = c == 0 ? 2.0f : 0.0f;
                    else if (c == 0) v = 0.0f;
                    else if (o.noSpeech && r == noSpeechToken) v = 32.0f / float(d) * noSpeechDirection(o.seed, c);
                    if (o.peaked) {
                        for (int j = 0; j < kPeakWords; ++j)
                            if (r == peakWord(j) && c == 1 + j) v = 4.0f;
                        if (!english && r == eot + 2 + kPeakLanguage && c == 1) v = 4.0f;
                    }
                    hrow[c] = toHalf(v);
                    frow[c] = fromHalf(hrow[c]);
                }
                if (half) w.bytes(hrow.data(), std::size_t(d) * 2);
                else w.bytes(frow.data(), std::size_t(d) * 4);
            }
        } else if (ends("ln.weight") || ends("ln_post.weight")) {
            writeTensor(w, name, dims, half, Init::Ones, 0.05f, o);
        } else if (ends(".bias")) {
            writeTensor(w, name, dims, half, Init::Zeros, 0.05f, o);
        } else {
            int64_t fanIn = 1;
            for (std::size_t k = 1; k < dims.size(); ++k) fanIn *= dims[k];
            writeTensor(w, name, dims, half, Init::Uniform, std::sqrt(3.0f / float(fanIn)), o);
        }
    }
    return 0;
}
