#include "WhisperRecognizer.h"

namespace speech {

namespace {

std::string trim(const std::string& s) {
    const char* ws = " \t\r\n";
    auto b = s.find_first_not_of(ws);
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

}  // namespace

WhisperRecognizer::WhisperRecognizer(const std::string& path, int threads, const RecognizerOptions& options)
    : engine_(path, threads) {
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
        std::string text = trim(t.decode(r.tokens));
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
