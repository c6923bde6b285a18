#include "WindowDecoder.h"

#include "WhisperEngine.h"
#include "speech/Recognizer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <zlib.h>

namespace speech {

namespace {

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

WindowDecoder::WindowDecoder(WhisperEngine& engine) : e_(engine), sampler_(engine.kernelSet()) {
    if (e_.position() != 0) throw Error("window decoding must start at the first position");
}

const float* WindowDecoder::feed(int token) {
    fed_.push_back(token);
    ++steps_;
    return e_.step(token);
}

float WindowDecoder::compressionRatio(const std::string& text) {
    if (text.empty()) return 0;
    uLongf size = compressBound(uLong(text.size()));
    std::vector<Bytef> out(size);
    if (compress(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), uLong(text.size())) != Z_OK)
        return 0;
    return float(double(text.size()) / double(size));
}

DecodeResult WindowDecoder::decode(const std::vector<int>& prompt, const std::string& language, float temperature,
                                   uint64_t seed, int maxTokens) {
    const Tokenizer& t = e_.tokenizer();
    const int nv = t.vocabSize();
    const int ctx = e_.hp().nTextCtx;
    if (maxTokens < 0) maxTokens = ctx / 2;
    const bool automatic = language.empty() || language == "auto";
    int lang = -1;
    if (t.multilingual() && !automatic) {
        lang = t.languageIndex(language);
        if (lang < 0) throw Error("unsupported language " + language);
    }
    DecodeResult r;
    r.temperature = temperature;

    // The context keeps its latest tokens and leaves room for the start tokens and one more.
    const int startTokens = t.multilingual() ? 4 : 2;
    const int room = std::max(0, ctx - startTokens - 2);
    const std::size_t keep = std::min(prompt.size(), std::size_t(room));
    if (keep > 0) {
        r.prefix.push_back(t.startOfPrev());
        r.prefix.insert(r.prefix.end(), prompt.end() - std::ptrdiff_t(keep), prompt.end());
    }
    const std::size_t sotAt = r.prefix.size();
    r.prefix.push_back(t.sot());

    // What an earlier decoding of this window already fed is kept up to the start token,
    // which is fed again for its logits (no-speech probability, language).
    std::size_t same = 0;
    while (same < std::min(fed_.size(), sotAt) && fed_[same] == r.prefix[same]) ++same;
    e_.rewind(int(same));
    fed_.resize(same);
    for (std::size_t i = same; i < sotAt; ++i) feed(r.prefix[i]);
    const float* logits = feed(t.sot());
    r.noSpeechProb = std::exp(logits[t.noSpeech()] - e_.kernelSet().logSumExp(logits, nv, nullptr));
    if (t.multilingual()) {
        if (lang < 0) {
            lang = 0;
            for (int i = 1; i < t.languageCount(); ++i)
                if (logits[t.languageToken(i)] > logits[t.languageToken(lang)]) lang = i;
        }
        r.language = t.languageCode(lang);
        for (int tok : {t.languageToken(lang), t.transcribe()}) {
            r.prefix.push_back(tok);
            feed(tok);
        }
    } else {
        r.language = "en";
    }
    r.prefix.push_back(t.noTimestamps());
    logits = feed(t.noTimestamps());

    sampler_.reseed(seed);
    double sum = 0;
    work_.resize(std::size_t(nv));
    for (int i = 0; i < maxTokens; ++i) {
        std::copy(logits, logits + nv, work_.begin());
        t.suppress(work_.data(), i == 0);
        const TokenSampler::Pick p = sampler_.pick(work_.data(), nv, temperature);
        sum += p.logprob;
        if (p.token == t.eot()) break;
        r.tokens.push_back(p.token);
        if (e_.position() >= ctx) break;
        logits = feed(p.token);
    }
    r.avgLogprob = float(sum / double(r.tokens.size() + 1));
    r.compressionRatio = compressionRatio(t.text(r.tokens));
    return r;
}

DecodeResult WindowDecoder::decodeWithFallback(const std::vector<int>& prompt, const std::string& language,
                                               const DecodeOptions& o, uint64_t seed) {
    auto silence = [&o](const DecodeResult& r) {
        return r.noSpeechProb > o.noSpeechThreshold && r.avgLogprob < o.logprobThreshold;
    };
    auto passes = [&o](const DecodeResult& r) {
        return r.compressionRatio <= o.compressionRatioThreshold && r.avgLogprob >= o.logprobThreshold;
    };
    DecodeResult r = decode(prompt, language, 0.0f, seed);
    // The no-speech probability does not depend on sampling: silence is not decoded again.
    if (o.fallback && !silence(r) && !passes(r)) {
        const double t0 = nowMs();
        const std::string lang = r.language.empty() ? language : r.language;
        std::vector<DecodeAttempt> attempts{{r.temperature, r.avgLogprob, r.compressionRatio, r.tokens, r.prefix}};
        // When none passes, the most likely text that does not repeat itself is kept: a
        // loop is what the fallback is for, and random weights give it the best score.
        auto better = [&o](const DecodeResult& c, const DecodeResult& b) {
            const bool cLoops = c.compressionRatio > o.compressionRatioThreshold;
            const bool bLoops = b.compressionRatio > o.compressionRatioThreshold;
            return cLoops != bLoops ? bLoops : c.avgLogprob > b.avgLogprob;
        };
        DecodeResult best = std::move(r);
        bool passed = false;
        for (int k = 1; k <= 5 && !passed; ++k) {
            const float temperature = 0.2f * float(k);
            // The previous text conditions only the decodings at low temperature.
            static const std::vector<int> none;
            DecodeResult c = decode(temperature < 0.5f ? prompt : none, lang, temperature,
                                    seed * 31 + uint64_t(k));
            ++fallbackDecodes_;
            attempts.push_back({c.temperature, c.avgLogprob, c.compressionRatio, c.tokens, c.prefix});
            passed = passes(c);
            if (passed || better(c, best)) best = std::move(c);
        }
        r = std::move(best);
        r.attempts = std::move(attempts);
        fallbackMs_ += nowMs() - t0;
    }
    r.noSpeech = silence(r);
    return r;
}

}  // namespace speech
