#include "Tokenizer.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace speech {

namespace {

const char* const kLanguages[] = {
    "en", "zh", "de", "es", "ru", "ko", "fr", "ja", "pt", "tr", "pl", "ca", "nl", "ar", "sv", "it", "id",
    "hi", "fi", "vi", "he", "uk", "el", "ms", "cs", "ro", "da", "hu", "ta", "no", "th", "ur", "hr", "bg",
    "lt", "la", "mi", "ml", "cy", "sk", "te", "fa", "lv", "bn", "sr", "az", "sl", "kn", "et", "mk", "br",
    "eu", "is", "hy", "ne", "mn", "bs", "kk", "sq", "sw", "gl", "mr", "pa", "si", "km", "sn", "yo", "so",
    "af", "oc", "ka", "be", "tg", "sd", "gu", "am", "yi", "lo", "uz", "fo", "ht", "ps", "tk", "nn", "mt",
    "sa", "lb", "my", "bo", "tl", "mg", "as", "tt", "haw", "ln", "ha", "ba", "jw", "su", "yue"};
constexpr int kLanguageCount = sizeof kLanguages / sizeof *kLanguages;

}  // namespace

Tokenizer::Tokenizer(const HyperParams& hp, std::vector<std::string> vocab)
    : vocab_(std::move(vocab)), nVocab_(hp.nVocab), multilingual_(hp.nVocab != 51864) {
    if (multilingual_) {
        eot_ = 50257;
        sot_ = 50258;
        nLangs_ = std::min(hp.nVocab - 51766, kLanguageCount);
        translate_ = sot_ + 1 + (hp.nVocab - 51766);
    } else {
        eot_ = 50256;
        sot_ = 50257;
        nLangs_ = 0;
        translate_ = 50357;
    }
    transcribe_ = translate_ + 1;
    noSpeech_ = translate_ + 4;
    noTimestamps_ = translate_ + 5;
    vocab_.resize(std::size_t(nVocab_));

    std::unordered_map<std::string, int> ids;
    for (int i = int(std::min<std::size_t>(vocab_.size(), std::size_t(eot_))) - 1; i >= 0; --i)
        if (!vocab_[i].empty()) ids[vocab_[i]] = i;
    if (auto it = ids.find(" "); it != ids.end()) space_ = it->second;

    // Symbols that are not speech, alone or after a space; music marks by their first token.
    const char* symbols[] = {"\"", "#", "(", ")", "*", "+", "/", ":", ";", "<", "=", ">", "@", "[", "\\", "]",
                             "^", "_", "`", "{", "|", "}", "~", "「", "」", "『", "』", "<<", ">>", "<<<",
                             ">>>", "--", "---", "-(", "-[", "('", "(\"", "((", "))", "(((", ")))", "[[",
                             "]]", "{{", "}}", "♪♪", "♪♪♪"};
    const char* music[] = {"♩", "♪", "♫", "♬", "♭", "♮", "♯"};
    std::vector<int> out;
    auto exact = [&](const std::string& s) {
        auto it = ids.find(s);
        if (it != ids.end()) out.push_back(it->second);
    };
    exact(" -");
    exact(" '");
    for (const char* s : symbols) {
        exact(s);
        exact(std::string(" ") + s);
    }
    for (const char* s : music) {
        for (std::string text : {std::string(s), std::string(" ") + s}) {
            for (std::size_t len = text.size(); len > 0; --len) {
                auto it = ids.find(text.substr(0, len));
                if (it != ids.end()) {
                    out.push_back(it->second);
                    break;
                }
            }
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    suppressed_ = std::move(out);
}

int Tokenizer::languageIndex(const std::string& code) const {
    for (int i = 0; i < nLangs_; ++i)
        if (code == kLanguages[i]) return i;
    return -1;
}

std::string Tokenizer::languageCode(int index) const {
    if (index < 0 || index >= nLangs_) return multilingual_ ? "" : "en";
    return kLanguages[index];
}

void Tokenizer::suppress(float* logits, bool first) const {
    const float ninf = -std::numeric_limits<float>::infinity();
    for (int i = eot_ + 1; i < nVocab_; ++i) logits[i] = ninf;
    for (int id : suppressed_) logits[id] = ninf;
    if (first) {
        logits[eot_] = ninf;
        if (space_ >= 0) logits[space_] = ninf;
    }
}

const std::string& Tokenizer::bytes(int token) const {
    static const std::string empty;
    if (token < 0 || token >= eot_ || std::size_t(token) >= vocab_.size()) return empty;
    return vocab_[std::size_t(token)];
}

std::string Tokenizer::text(const std::vector<int>& tokens) const {
    const std::string s = decode(tokens);
    const char* ws = " \t\r\n";
    const auto b = s.find_first_not_of(ws);
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

std::string Tokenizer::decode(const std::vector<int>& tokens) const {
    std::string s;
    for (int t : tokens) s += bytes(t);
    return sanitizeUtf8(s);
}

std::string sanitizeUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        std::size_t len = 0;
        uint32_t cp = 0;
        if (c < 0x80) len = 1, cp = c;
        else if ((c & 0xE0) == 0xC0) len = 2, cp = c & 0x1F;
        else if ((c & 0xF0) == 0xE0) len = 3, cp = c & 0x0F;
        else if ((c & 0xF8) == 0xF0) len = 4, cp = c & 0x07;
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (ok) {
            static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ok = false;
        }
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

}  // namespace speech
