// Prints the speech engine's stage times (medians) on generated models of real shapes.
//   speech-bench [--models tiny,base,small,large-v3-turbo] [--threads 4,8] [--reps N]
//                [--cache DIR] [--tokens N]
// Models are generated (f16, random weights) into the cache directory when missing.
#include "WhisperEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/stat.h>
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

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> models = {"tiny", "base", "small", "large-v3-turbo"};
    std::vector<int> threads = {4, 8};
    int reps = 5, tokens = 32;
    bool encoderOnly = false;  // for profiling: only the encoder, reps times
    bool decoderOnly = false;  // for profiling: only decoder steps, reps x 200
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
        else {
            std::printf("usage: speech-bench [--models tiny,base,small,large-v3-turbo] [--threads 4,8] [--reps N]\n"
                        "                    [--cache DIR] [--tokens N] [--encoder-only | --decoder-only]\n"
                        "Prints medians of mel, encoder, cross-attention set-up, per-token decoder and total\n"
                        "times for a full 30 s window and a 5 s phrase. Models (f16, random weights) are\n"
                        "generated into the cache directory (default %s) when missing.\n",
                        cache.c_str());
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    std::string mk = "mkdir -p '" + cache + "'";
    if (std::system(mk.c_str()) != 0) return 1;

    const auto window = speechLike(480000);
    const auto phrase = speechLike(80000);
    std::printf("%-15s %3s %7s %9s %7s %8s %9s %10s %9s %9s %6s\n", "model", "thr", "mel ms", "encoder", "GFLOP/s",
                "cross ms", "token ms", "30s total", "5s total", "5s ctx", "tokens");
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
            std::vector<double> melT, encT, crossT, tokT, totalT, phraseT, phraseCtxT, fbTotalT, fbPhraseT, fbWindowMsT, fbPhraseMsT;
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
                // The window and the phrase again with the fallback on.
                e.setDecodeOptions(withFallback);
                speech::StageTimes fbw, fbp;
                double t10 = nowMs();
                e.transcribe(window.data(), window.size(), "en", &fbw);
                double t11 = nowMs();
                e.transcribe(phrase.data(), phrase.size(), "en", &fbp);
                double t12 = nowMs();
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
                fbTotalT.push_back(t11 - t10);
                fbPhraseT.push_back(t12 - t11);
                fbWindowMsT.push_back(fbw.fallbackMs);
                fbPhraseMsT.push_back(fbp.fallbackMs);
                fb = fbw;
                fb.windows += fbp.windows;
                fb.fallbackWindows += fbp.fallbackWindows;
                fb.fallbackDecodes += fbp.fallbackDecodes;
                decoded = int(res[0].tokens.size() + res5[0].tokens.size()) / 2;
            }
            double encMs = median(encT);
            std::printf("%-15s %3d %7.1f %9.1f %7.0f %8.1f %9.3f %10.1f %9.1f %9.1f %6d\n", name.c_str(), th,
                        median(melT), encMs, encoderGflop(hp) / (encMs / 1000.0), median(crossT), median(tokT),
                        median(totalT), median(phraseT), median(phraseCtxT), decoded);
            std::printf("%-15s %3d fallback on: ran on %d of %d windows, %d decodings more; 30s total %.1f "
                        "(fallback %.1f), 5s total %.1f (fallback %.1f)\n",
                        name.c_str(), th, fb.fallbackWindows, fb.windows, fb.fallbackDecodes, median(fbTotalT),
                        median(fbWindowMsT), median(fbPhraseT), median(fbPhraseMsT));
            std::fflush(stdout);
        }
    }
    std::printf("kernels: %s; medians of %d runs after one warm-up. 30s/5s total: whole transcription of a\n"
                "30 s window / 5 s phrase (full window, greedy); 5s ctx: the phrase encoding only its 250\n"
                "positions; token ms: one decoder step. Fallback on: the window and the phrase decoded again\n"
                "at higher temperatures when their text loops or is unlikely (random weights always are).\n",
                speech::kernels().name, reps);
    return 0;
}
