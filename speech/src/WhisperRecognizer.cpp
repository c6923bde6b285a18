#include "WhisperRecognizer.h"

namespace speech {

WhisperRecognizer::WhisperRecognizer(const std::string& path, int threads, const RecognizerOptions& options)
    : engine_(path, threads, options.weights) {
    DecodeOptions o = engine_.decodeOptions();
    o.fallback = options.temperatureFallback;
    engine_.setDecodeOptions(o);
}

bool WhisperRecognizer::supportsLanguage(const std::string& code) const {
    if (code == "auto") return true;
    const Tokenizer& t = engine_.tokenizer();
    if (!t.multilingual()) return code == "en";
    return t.languageIndex(code) >= 0;
}

Transcript WhisperRecognizer::transcribe(const float* samples, std::size_t count, const std::string& language) {
    const std::string lang = language.empty() ? "auto" : language;
    if (!supportsLanguage(lang)) throw Error("unsupported language " + language);
    const Tokenizer& t = engine_.tokenizer();
    times_ = StageTimes{};
    Transcript out;
    if (count == 0 || samples == nullptr) {
        out.language = lang == "auto" ? (t.multilingual() ? "" : "en") : lang;
        return out;
    }
    for (const DecodeResult& r : engine_.transcribe(samples, count, lang, &times_)) {
        if (out.language.empty()) out.language = r.language;
        if (r.noSpeech) continue;
        std::string text = t.text(r.tokens);
        if (text.empty()) continue;
        if (!out.text.empty()) out.text += ' ';
        out.text += text;
    }
    return out;
}

std::unique_ptr<Recognizer> loadWhisperModel(const std::string& path, int threads, const RecognizerOptions& options) {
    return std::make_unique<WhisperRecognizer>(path, threads, options);
}

}  // namespace speech
