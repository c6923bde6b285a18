// Prints the speech engine's stage times (medians) on generated models of real shapes,
// next to the machine's own ceilings measured in the same run: the fp32 FMA peak of the
// widest vector set the processor runs and the streaming read bandwidth of 1 GiB.
//   speech-bench [--models tiny,base,small,large-v3-turbo] [--threads 4,8] [--reps N]
//                [--cache DIR] [--tokens N]
//   speech-bench --weights [--models ...] [--threads 8] [--reps 5] [--agreement]
// Models are generated (f16, random weights) into the cache directory when missing.
// --weights: the stored (f16) and the 8-bit weights side by side, round after round: encoder,
// per token and short phrase, their ratios, and the memory each takes when loaded; with
// --agreement also the language, the first 50 greedy tokens and the largest difference of the
// encoder output and the logits between the two, on peaked models (make-test-model --peaked).
// TOVRIN_SPEECH_ISA=avx512|avx2|generic forces a kernel set.
#include "HugePageBuffer.h"
#include "WhisperEngine.h"

#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    std::string item;
    while (std::getline(ss, item, ',')) out.push_back(item);
    return out;
}

bool exists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && st.st_size > 0;
}

std::vector<float> speechLike(size_t n) {
    std::vector<float> a(n);
    uint32_t r = 12345;
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / 16000.0;
        r = r * 1664525u + 1013904223u;
        double noise = (double(r >> 8) / 16777216.0 - 0.5) * 0.04;
        a[i] = float(0.3 * std::sin(2 * M_PI * 220 * t + 3 * std::sin(2 * M_PI * 3 * t)) *
                         (0.6 + 0.4 * std::sin(2 * M_PI * 0.5 * t)) + noise);
    }
    return a;
}

double encoderGflop(const speech::HyperParams& hp) {
    const double d = hp.nAudioState, T = hp.nAudioCtx, F = 3000;
    double f = 2 * F * d * 3 * hp.nMels + 2 * T * d * 3 * d;
    f += hp.nAudioLayer * (2 * T * d * d * 4 + 2 * 2 * T * T * d + 2 * T * d * 4 * d * 2);
    return f / 1e9;
}

// Bytes one decoder step streams: every matrix of the decoder layers, the token embedding
// (the vocabulary projection) and the cross-attention keys and values, all in f16.
double decoderBytesPerToken(const speech::HyperParams& hp) {
    const double d = hp.nTextState;
    return 2.0 * (hp.nTextLayer * 14 * d * d + double(hp.nVocab) * d + hp.nTextLayer * 2.0 * hp.nAudioCtx * d);
}

// --- The machine's ceilings -------------------------------------------------------------

// Independent FMA chains, enough to cover the latency of both FMA pipes.
// Independent FMA chains, enough to cover the latency of both FMA pipes; written out so
// that the accumulators stay in registers.
#define SPEECH_BENCH_FMA_CHAINS(FMA, A) \
    A##0 = FMA(A##0, m, c); A##1 = FMA(A##1, m, c); A##2 = FMA(A##2, m, c); A##3 = FMA(A##3, m, c); \
    A##4 = FMA(A##4, m, c); A##5 = FMA(A##5, m, c); A##6 = FMA(A##6, m, c); A##7 = FMA(A##7, m, c); \
    A##8 = FMA(A##8, m, c); A##9 = FMA(A##9, m, c); A##10 = FMA(A##10, m, c); A##11 = FMA(A##11, m, c)

__attribute__((target("avx512f"))) double fmaLoop512(int64_t iters) {
    const __m512 m = _mm512_set1_ps(0.999999f), c = _mm512_set1_ps(1e-7f);
    __m512 a0 = _mm512_set1_ps(0.01f * 0), a1 = _mm512_set1_ps(0.01f * 1), a2 = _mm512_set1_ps(0.01f * 2), a3 = _mm512_set1_ps(0.01f * 3), a4 = _mm512_set1_ps(0.01f * 4), a5 = _mm512_set1_ps(0.01f * 5), a6 = _mm512_set1_ps(0.01f * 6), a7 = _mm512_set1_ps(0.01f * 7), a8 = _mm512_set1_ps(0.01f * 8),
           a9 = _mm512_set1_ps(0.01f * 9), a10 = _mm512_set1_ps(0.01f * 10), a11 = _mm512_set1_ps(0.01f * 11);
    for (int64_t n = 0; n < iters; ++n) {
        SPEECH_BENCH_FMA_CHAINS(_mm512_fmadd_ps, a);
    }
    __m512 s = _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(a0, a1), _mm512_add_ps(a2, a3)),
                             _mm512_add_ps(_mm512_add_ps(a4, a5), _mm512_add_ps(a6, a7)));
    s = _mm512_add_ps(s, _mm512_add_ps(_mm512_add_ps(a8, a9), _mm512_add_ps(a10, a11)));
    volatile float sink = _mm512_reduce_add_ps(s);
    (void)sink;
    return double(iters) * 12 * 16 * 2;
}

__attribute__((target("avx2,fma"))) double fmaLoop256(int64_t iters) {
    const __m256 m = _mm256_set1_ps(0.999999f), c = _mm256_set1_ps(1e-7f);
    __m256 a0 = _mm256_set1_ps(0.01f * 0), a1 = _mm256_set1_ps(0.01f * 1), a2 = _mm256_set1_ps(0.01f * 2), a3 = _mm256_set1_ps(0.01f * 3), a4 = _mm256_set1_ps(0.01f * 4), a5 = _mm256_set1_ps(0.01f * 5), a6 = _mm256_set1_ps(0.01f * 6), a7 = _mm256_set1_ps(0.01f * 7), a8 = _mm256_set1_ps(0.01f * 8),
           a9 = _mm256_set1_ps(0.01f * 9), a10 = _mm256_set1_ps(0.01f * 10), a11 = _mm256_set1_ps(0.01f * 11);
    for (int64_t n = 0; n < iters; ++n) {
        SPEECH_BENCH_FMA_CHAINS(_mm256_fmadd_ps, a);
    }
    __m256 s = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(a0, a1), _mm256_add_ps(a2, a3)),
                             _mm256_add_ps(_mm256_add_ps(a4, a5), _mm256_add_ps(a6, a7)));
    s = _mm256_add_ps(s, _mm256_add_ps(_mm256_add_ps(a8, a9), _mm256_add_ps(a10, a11)));
    alignas(32) float out[8];
    _mm256_store_ps(out, s);
    volatile float sink = out[0];
    (void)sink;
    return double(iters) * 12 * 8 * 2;
}

__attribute__((target("avx2"))) double sumRead256(const float* p, size_t n) {
    __m256 s0 = _mm256_setzero_ps(), s1 = s0, s2 = s0, s3 = s0;
    for (size_t i = 0; i + 32 <= n; i += 32) {
        s0 = _mm256_add_ps(s0, _mm256_load_ps(p + i));
        s1 = _mm256_add_ps(s1, _mm256_load_ps(p + i + 8));
        s2 = _mm256_add_ps(s2, _mm256_load_ps(p + i + 16));
        s3 = _mm256_add_ps(s3, _mm256_load_ps(p + i + 24));
    }
    alignas(32) float out[8];
    _mm256_store_ps(out, _mm256_add_ps(_mm256_add_ps(s0, s1), _mm256_add_ps(s2, s3)));
    return out[0];
}

double sumReadPlain(const float* p, size_t n) {
    double s = 0;
    for (size_t i = 0; i < n; i += 16) s += p[i];  // one load per cache line
    return s;
}

// Runs fn(thread) on `threads` threads at once; returns the wall time in seconds.
template <class F>
double onThreads(int threads, F fn) {
    std::vector<std::thread> ts;
    double t0 = nowMs();
    for (int t = 0; t < threads; ++t) ts.emplace_back([&fn, t] { fn(t); });
    for (auto& t : ts) t.join();
    return (nowMs() - t0) / 1000.0;
}

struct Ceilings {
    double gflops = 0;  // fp32 FMA peak
    double gbps = 0;    // streaming read
    const char* isa = "";
};

// Best of several trials: a ceiling is what the machine can do, not what it did on average
// (on a shared machine a trial may lose its processor; a dozen short ones find a quiet spell).
// The machine may be shared: each figure is put beside ceilings measured just before and just
// after it (the better of the two).
class CeilingMeter {
public:
    static constexpr int kTrials = 12;
    Ceilings measure(int threads) {
        Ceilings c;
        __builtin_cpu_init();
        const bool avx512 = __builtin_cpu_supports("avx512f");
        const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        c.isa = avx512 ? "avx512" : avx2 ? "avx2" : "scalar";
        const int64_t iters = 20000000;
        for (int trial = 0; trial < kTrials; ++trial) {
            std::vector<double> flops(static_cast<size_t>(threads), 0.0);
            double s = onThreads(threads, [&](int t) {
                flops[size_t(t)] = avx512 ? fmaLoop512(iters) : avx2 ? fmaLoop256(iters) : 0.0;
            });
            double total = 0;
            for (double f : flops) total += f;
            c.gflops = std::max(c.gflops, total / s / 1e9);
        }
        const size_t bytes = size_t(1) << 30, n = bytes / sizeof(float);
        if (!buf_.data()) {
            buf_ = speech::HugePageBuffer(bytes);
            float* p = static_cast<float*>(buf_.data());
            onThreads(threads, [&](int t) {
                const size_t b = n / size_t(threads) * size_t(t), e = t + 1 == threads ? n : b + n / size_t(threads);
                for (size_t i = b; i < e; ++i) p[i] = 1.0f;
            });
        }
        const float* p = static_cast<const float*>(buf_.data());
        for (int trial = 0; trial < kTrials; ++trial) {
            std::vector<double> sink(static_cast<size_t>(threads));
            double s = onThreads(threads, [&](int t) {
                const size_t per = n / size_t(threads) / 32 * 32;
                sink[size_t(t)] = avx2 ? sumRead256(p + per * size_t(t), per) : sumReadPlain(p + per * size_t(t), per);
            });
            c.gbps = std::max(c.gbps, double(bytes) / s / 1e9);
        }
        return c;
    }

private:
    speech::HugePageBuffer buf_;
};


// Resident memory of this process in MiB.
double rssMb() {
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            in >> kb;
            return double(kb) / 1024.0;
        }
        std::string rest;
        std::getline(in, rest);
    }
    return -1;
}

std::string modelPath(const std::string& cache, const std::string& name, const std::string& extra,
                      const std::string& suffix) {
    std::string path = cache + "/ggml-" + name + suffix + ".bin";
    if (!exists(path)) {
        std::fprintf(stderr, "generating %s ...\n", path.c_str());
        std::string cmd = std::string("'") + MAKE_TEST_MODEL + "' --preset " + name + " --ftype 1 " + extra + " -o '" +
                          path + ".tmp' && mv '" + path + ".tmp' '" + path + "'";
        if (std::system(cmd.c_str()) != 0) return "";
    }
    return path;
}

double maxScaledDiff(const std::vector<float>& got, const std::vector<float>& want) {
    double err = 0, top = 1;
    for (std::size_t i = 0; i < want.size(); ++i) {
        err = std::max(err, double(std::fabs(got[i] - want[i])));
        top = std::max(top, double(std::fabs(want[i])));
    }
    return err / top;
}

// The stored and the 8-bit weights side by side (see the file's head).
int compareWeights(const std::vector<std::string>& models, const std::vector<int>& threads, int reps,
                   const std::string& cache, bool agreement) {
    const auto window = speechLike(480000);
    const auto phrase = speechLike(80000);
    CeilingMeter meter;
    std::printf("kernels: %s; f16 and q8 (8-bit) weights interleaved, medians of %d rounds after one warm-up\n",
                speech::kernelSetInUse().c_str(), reps);
    std::printf("%-15s %3s %-4s %8s %9s %7s %6s %9s %6s %6s %8s %9s\n", "model", "thr", "wts", "load MiB", "encoder",
                "GFLOP/s", "peak", "token ms", "GB/s", "read", "short ms", "ratio e/t/s");
    for (const auto& name : models) {
        const std::string path = modelPath(cache, name, "", "-f16");
        if (path.empty()) return 1;
        for (int th : threads) {
            const double rss0 = rssMb();
            auto f16 = std::make_unique<speech::WhisperEngine>(path, th, speech::WeightType::F16);
            const double rss1 = rssMb();
            auto q8 = std::make_unique<speech::WhisperEngine>(path, th, speech::WeightType::Q8);
            const double rss2 = rssMb();
            speech::WhisperEngine* engines[2] = {f16.get(), q8.get()};
            const auto& hp = f16->hp();
            std::vector<float> mel(size_t(speech::WhisperEngine::kFrames) * hp.nMels);
            std::vector<float> enc = f16->encoderBuffer();
            std::vector<double> encT[2], tokT[2], shortT[2];
            Ceilings ceil = meter.measure(th);
            for (int r = 0; r <= reps; ++r)
                for (int which = 0; which < 2; ++which) {
                    speech::WhisperEngine& e = *engines[which];
                    const int sot = e.tokenizer().sot();
                    e.logMel(window.data(), window.size(), mel.data());
                    double t0 = nowMs();
                    e.encode(mel.data(), enc.data());
                    double t1 = nowMs();
                    e.beginDecode(enc.data());
                    e.step(sot);
                    double t2 = nowMs();
                    for (int k = 0; k < 32; ++k) e.step(1000 + 37 * k);
                    double t3 = nowMs();
                    // Short phrase: mel, encoder, cross-attention set-up and 20 decoder steps.
                    e.logMel(phrase.data(), phrase.size(), mel.data());
                    e.encode(mel.data(), enc.data());
                    e.beginDecode(enc.data());
                    for (int k = 0; k < 20; ++k) e.step(k == 0 ? sot : 1000 + 37 * k);
                    double t4 = nowMs();
                    if (r == 0) continue;
                    encT[which].push_back(t1 - t0);
                    tokT[which].push_back((t3 - t2) / 32);
                    shortT[which].push_back(t4 - t3);
                }
            const Ceilings after = meter.measure(th);
            ceil.gflops = std::max(ceil.gflops, after.gflops);
            ceil.gbps = std::max(ceil.gbps, after.gbps);
            const double load[2] = {rss1 - rss0, rss2 - rss1};
            for (int which = 0; which < 2; ++which) {
                const double encMs = median(encT[which]), tokMs = median(tokT[which]);
                // GB/s: the f16 bytes a step streams per ms, for both (the same work).
                const double gbps = decoderBytesPerToken(hp) / 1e6 / tokMs;
                char ratio[64] = "";
                if (which == 1)
                    std::snprintf(ratio, sizeof ratio, "%.2f/%.2f/%.2f", encMs / median(encT[0]),
                                  tokMs / median(tokT[0]), median(shortT[1]) / median(shortT[0]));
                std::printf("%-15s %3d %-4s %8.0f %9.1f %7.0f %6.0f %9.3f %6.1f %6.1f %8.1f %9s\n", name.c_str(), th,
                            which ? "q8" : "f16", load[which], encMs, encoderGflop(hp) / (encMs / 1000.0), ceil.gflops,
                            tokMs, gbps, ceil.gbps, median(shortT[which]), ratio);
            }
            std::fflush(stdout);
        }
        if (!agreement) continue;
        // Peaked: each step's best token leads clearly, as in a trained model.
        const std::string peaked = modelPath(cache, name, "--peaked --eot-after 80 --seed 11", "-peaked");
        if (peaked.empty()) return 1;
        speech::WhisperEngine f16(peaked, threads.back(), speech::WeightType::F16);
        speech::WhisperEngine q8(peaked, threads.back(), speech::WeightType::Q8);
        for (int seconds : {5, 30}) {
            const auto audio = speechLike(std::size_t(seconds) * 16000);
            std::vector<float> mel(size_t(speech::WhisperEngine::kFrames) * f16.hp().nMels);
            std::vector<float> enc[2] = {f16.encoderBuffer(), f16.encoderBuffer()};
            std::vector<float> logits[2];
            speech::DecodeResult res[2];
            speech::WhisperEngine* engines[2] = {&f16, &q8};
            for (int which = 0; which < 2; ++which) {
                speech::WhisperEngine& e = *engines[which];
                e.logMel(audio.data(), audio.size(), mel.data());
                e.encode(mel.data(), enc[which].data());
                e.beginDecode(enc[which].data());
                const float* l = e.step(e.tokenizer().sot());
                logits[which].assign(l, l + e.hp().nVocab);
                e.beginDecode(enc[which].data());
                res[which] = e.decodeGreedy("auto", 50);
            }
            std::size_t same = 0;
            while (same < res[0].tokens.size() && same < res[1].tokens.size() && res[0].tokens[same] == res[1].tokens[same])
                ++same;
            std::printf("agreement %-15s %2d s: language %s / %s, first %zu of %zu greedy tokens the same; "
                        "largest difference (scaled) encoder %.2e, logits %.2e\n",
                        name.c_str(), seconds, res[0].language.c_str(), res[1].language.c_str(), same,
                        res[0].tokens.size(), maxScaledDiff(enc[1], enc[0]), maxScaledDiff(logits[1], logits[0]));
        }
    }
    std::printf("load MiB: resident memory the engine added when loaded; encoder: a 30 s window (ms); token ms: one\n"
                "decoder step; GB/s: the f16 bytes a step streams, per second (the same work for both); short ms:\n"
                "mel, encoder, cross-attention set-up and 20 decoder steps for a 5 s phrase; ratio e/t/s: q8/f16 of\n"
                "encoder, token and short phrase. peak, read: fp32 FMA peak (GFLOP/s) and 1 GiB read (GB/s).\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> models = {"tiny", "base", "small", "large-v3-turbo"};
    std::vector<int> threads = {4, 8};
    int reps = 5, tokens = 32;
    bool encoderOnly = false;  // for profiling: only the encoder, reps times
    bool decoderOnly = false;  // for profiling: only decoder steps, reps x 200
    bool weights = false, agreement = false;
    std::string cache;
    if (const char* x = std::getenv("XDG_CACHE_HOME")) cache = std::string(x) + "/tovrin-speech-bench";
    else if (const char* h = std::getenv("HOME")) cache = std::string(h) + "/.cache/tovrin-speech-bench";
    else cache = "/tmp/tovrin-speech-bench";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--models") models = split(next());
        else if (a == "--threads") {
            threads.clear();
            for (auto& t : split(next())) threads.push_back(std::atoi(t.c_str()));
        } else if (a == "--reps") reps = std::max(1, std::atoi(next().c_str()));
        else if (a == "--tokens") tokens = std::max(1, std::atoi(next().c_str()));
        else if (a == "--cache") cache = next();
        else if (a == "--encoder-only") encoderOnly = true;
        else if (a == "--decoder-only") decoderOnly = true;
        else if (a == "--weights") weights = true;
        else if (a == "--agreement") agreement = true;
        else {
            std::printf("usage: speech-bench [--models tiny,base,small,large-v3-turbo] [--threads 4,8] [--reps N]\n"
                        "                    [--cache DIR] [--tokens N] [--encoder-only | --decoder-only]\n"
                        "       speech-bench --weights [--agreement] [--models ...] [--threads ...] [--reps N]\n"
                        "Prints medians of mel, encoder, cross-attention set-up, per-token decoder and total\n"
                        "times for a full 30 s window and a 5 s phrase. Models (f16, random weights) are\n"
                        "generated into the cache directory (default %s) when missing.\n",
                        cache.c_str());
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    std::string mk = "mkdir -p '" + cache + "'";
    if (std::system(mk.c_str()) != 0) return 1;
    if (weights) return compareWeights(models, threads, reps, cache, agreement);

    const auto window = speechLike(480000);
    const auto phrase = speechLike(80000);
    CeilingMeter meter;
    std::printf("%-15s %3s %7s %9s %7s %6s %5s %8s %9s %6s %6s %6s %5s %10s %9s %9s %6s\n", "model", "thr", "mel ms",
                "encoder", "GFLOP/s", "peak", "share", "cross ms", "token ms", "MB/tok", "GB/s", "read", "share",
                "30s total", "5s total", "5s ctx", "tokens");
    std::vector<std::string> shortLines;
    for (const auto& name : models) {
        std::string path = cache + "/ggml-" + name + "-f16.bin";
        if (!exists(path)) {
            std::fprintf(stderr, "generating %s ...\n", path.c_str());
            std::string cmd = std::string("'") + MAKE_TEST_MODEL + "' --preset " + name + " --ftype 1 -o '" + path + ".tmp' && mv '" +
                              path + ".tmp' '" + path + "'";
            if (std::system(cmd.c_str()) != 0) return 1;
        }
        for (int th : threads) {
            speech::WhisperEngine e(path, th);
            const auto& hp = e.hp();
            speech::DecodeOptions greedyOnly = e.decodeOptions(), withFallback = greedyOnly;
            greedyOnly.fallback = false;
            withFallback.fallback = true;
            e.setDecodeOptions(greedyOnly);
            std::vector<float> mel(size_t(speech::WhisperEngine::kFrames) * hp.nMels);
            std::vector<float> enc = e.encoderBuffer();
            std::vector<double> melT, encT, crossT, tokT, totalT, phraseT, phraseCtxT, shortT, shortEncT;
            std::vector<double> fbTotalT, fbPhraseT, fbWindowMsT, fbPhraseMsT;
            speech::StageTimes fb;  // of the last round with the fallback on
            int decoded = 0;
            const auto& tok = e.tokenizer();
            if (decoderOnly) {
                e.logMel(window.data(), window.size(), mel.data());
                e.encode(mel.data(), enc.data());
                for (int r = 0; r <= reps; ++r) {
                    e.beginDecode(enc.data());
                    double t0 = nowMs();
                    for (int k = 0; k < 200; ++k) e.step(1000 + 37 * k);
                    if (r) tokT.push_back((nowMs() - t0) / 200);
                }
                std::printf("%-15s %3d decoder %.3f ms per token\n", name.c_str(), th, median(tokT));
                continue;
            }
            if (encoderOnly) {
                e.logMel(window.data(), window.size(), mel.data());
                for (int r = 0; r <= reps; ++r) {
                    double t0 = nowMs();
                    e.encode(mel.data(), enc.data());
                    if (r) encT.push_back(nowMs() - t0);
                }
                std::printf("%-15s %3d encoder %.1f ms\n", name.c_str(), th, median(encT));
                continue;
            }
            Ceilings ceil = meter.measure(th);
            for (int r = 0; r <= reps; ++r) {  // the first round warms up and is not counted
                double t0 = nowMs();
                e.logMel(window.data(), window.size(), mel.data());
                double t1 = nowMs();
                e.encode(mel.data(), enc.data());
                double t2 = nowMs();
                e.beginDecode(enc.data());
                double t3 = nowMs();
                e.step(tok.sot());
                double t4 = nowMs();
                for (int k = 0; k < tokens; ++k) e.step(1000 + 37 * k);
                double t5 = nowMs();
                speech::StageTimes st;
                double t6 = nowMs();
                auto res = e.transcribe(window.data(), window.size(), "en", &st);
                double t7 = nowMs();
                auto res5 = e.transcribe(phrase.data(), phrase.size(), "en");
                double t8 = nowMs();
                // The same phrase encoding only its own length (an option, off by default).
                e.setAudioContext(int(phrase.size() / 320));
                e.transcribe(phrase.data(), phrase.size(), "en");
                double t9 = nowMs();
                e.setAudioContext(0);
                // Short phrase: what a user waits for after a typical dictation, the 5 s
                // phrase in the full window and 20 decoder steps.
                e.logMel(phrase.data(), phrase.size(), mel.data());
                double t10 = nowMs();
                e.encode(mel.data(), enc.data());
                double t11 = nowMs();
                e.beginDecode(enc.data());
                for (int k = 0; k < 20; ++k) e.step(k == 0 ? tok.sot() : 1000 + 37 * k);
                double t12 = nowMs();
                // The window and the phrase again with the fallback on.
                e.setDecodeOptions(withFallback);
                speech::StageTimes fbw, fbp;
                double f0 = nowMs();
                e.transcribe(window.data(), window.size(), "en", &fbw);
                double f1 = nowMs();
                e.transcribe(phrase.data(), phrase.size(), "en", &fbp);
                double f2 = nowMs();
                e.setDecodeOptions(greedyOnly);
                (void)t4;
                if (r == 0) continue;
                melT.push_back(t1 - t0);
                encT.push_back(t2 - t1);
                crossT.push_back(t3 - t2);
                tokT.push_back((t5 - t4) / tokens);
                totalT.push_back(t7 - t6);
                phraseT.push_back(t8 - t7);
                phraseCtxT.push_back(t9 - t8);
                shortT.push_back(t12 - t9);
                shortEncT.push_back(t11 - t10);
                fbTotalT.push_back(f1 - f0);
                fbPhraseT.push_back(f2 - f1);
                fbWindowMsT.push_back(fbw.fallbackMs);
                fbPhraseMsT.push_back(fbp.fallbackMs);
                fb = fbw;
                fb.windows += fbp.windows;
                fb.fallbackWindows += fbp.fallbackWindows;
                fb.fallbackDecodes += fbp.fallbackDecodes;
                decoded = int(res[0].tokens.size() + res5[0].tokens.size()) / 2;
            }
            const Ceilings after = meter.measure(th);
            ceil.gflops = std::max(ceil.gflops, after.gflops);
            ceil.gbps = std::max(ceil.gbps, after.gbps);
            const double encMs = median(encT), tokMs = median(tokT);
            const double gflops = encoderGflop(hp) / (encMs / 1000.0);
            const double mb = decoderBytesPerToken(hp) / 1e6, gbps = mb / tokMs;
            std::printf("%-15s %3d %7.1f %9.1f %7.0f %6.0f %4.0f%% %8.1f %9.3f %6.0f %6.1f %6.1f %4.0f%% %10.1f %9.1f %9.1f %6d\n",
                        name.c_str(), th, median(melT), encMs, gflops, ceil.gflops, 100 * gflops / ceil.gflops,
                        median(crossT), tokMs, mb, gbps, ceil.gbps, 100 * gbps / ceil.gbps, median(totalT),
                        median(phraseT), median(phraseCtxT), decoded);
            std::printf("%-15s %3d fallback on: ran on %d of %d windows, %d decodings more; 30s total %.1f "
                        "(fallback %.1f), 5s total %.1f (fallback %.1f)\n",
                        name.c_str(), th, fb.fallbackWindows, fb.windows, fb.fallbackDecodes, median(fbTotalT),
                        median(fbWindowMsT), median(fbPhraseT), median(fbPhraseMsT));
            char line[200];
            std::snprintf(line, sizeof line, "short phrase %-15s %3d threads: %7.1f ms (5 s phrase encoded in %.1f ms, then 20 tokens)",
                          name.c_str(), th, median(shortT), median(shortEncT));
            shortLines.push_back(line);
            std::fflush(stdout);
        }
    }
    for (const auto& l : shortLines) std::printf("%s\n", l.c_str());
    std::printf("kernels: %s; medians of %d runs after one warm-up. peak: the fp32 FMA peak (GFLOP/s, widest\n"
                "vectors the processor runs) and read: the streaming read bandwidth of 1 GiB (GB/s), both measured\n"
                "just before and after the line's runs; share: the encoder's (the decoder's) rate as a share of it.\n"
                "MB/tok: decoder weights and cross-attention keys/values one step streams (f16). 30s/5s total: whole transcription\n"
                "of a 30 s window / 5 s phrase (full window, greedy); 5s ctx: the phrase encoding only its 250\n"
                "positions; token ms: one decoder step; short phrase: mel, encoder, cross-attention set-up and\n"
                "20 decoder steps for the 5 s phrase in the full window. Fallback on: the window and the phrase\n"
                "decoded again at higher temperatures when their text loops or is unlikely (random weights always are).\n",
                speech::kernels().name, reps);
    return 0;
}
