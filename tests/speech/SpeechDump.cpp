// Runs the engine's stages on a model and raw float32 audio and writes what each stage
// produced, for comparison with the independent reference (reference.py).
//   speech-dump [--weights f16|q8] MODEL AUDIO.f32 OUTDIR LANGUAGE [THREADS [AUDIO_CONTEXT]]
#include "WhisperEngine.h"
#include "WindowDecoder.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <vector>

namespace {

void writeFloats(const std::string& path, const float* p, std::size_t n) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(p), std::streamsize(n * sizeof(float)));
}

}  // namespace

int main(int argc, char** argv) {
    speech::WeightType weights = speech::WeightType::F16;
    if (argc > 2 && std::string(argv[1]) == "--weights") {
        weights = std::string(argv[2]) == "q8" ? speech::WeightType::Q8 : speech::WeightType::F16;
        argc -= 2;
        argv += 2;
    }
    if (argc < 5) {
        std::cerr << "usage: speech-dump [--weights f16|q8] MODEL AUDIO.f32 OUTDIR LANGUAGE [THREADS [AUDIO_CONTEXT]]\n";
        return 2;
    }
    try {
        const std::string out = argv[3], language = argv[4];
        speech::WhisperEngine e(argv[1], argc > 5 ? std::atoi(argv[5]) : 4, weights);
        if (argc > 6) e.setAudioContext(std::atoi(argv[6]));
        std::ifstream in(argv[2], std::ios::binary | std::ios::ate);
        std::vector<float> audio(std::size_t(in.tellg()) / sizeof(float));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(audio.data()), std::streamsize(audio.size() * sizeof(float)));

        const auto& hp = e.hp();
        std::vector<float> mel(std::size_t(speech::WhisperEngine::kFrames) * hp.nMels);
        e.logMel(audio.data(), audio.size(), mel.data());
        writeFloats(out + "/mel.f32", mel.data(), mel.size());
        std::vector<float> enc = e.encoderBuffer();
        e.encode(mel.data(), enc.data());
        writeFloats(out + "/encoder.f32", enc.data(), std::size_t(e.audioContext()) * hp.nAudioState);

        // Logits after a fixed prompt, one row per position.
        const auto& t = e.tokenizer();
        std::vector<int> prompt = {t.sot()};
        if (t.multilingual()) prompt.insert(prompt.end(), {t.languageToken(0), t.transcribe()});
        prompt.push_back(t.noTimestamps());
        e.beginDecode(enc.data());
        std::vector<float> logits;
        for (int tok : prompt) {
            const float* l = e.step(tok);
            logits.insert(logits.end(), l, l + hp.nVocab);
        }
        writeFloats(out + "/logits.f32", logits.data(), logits.size());

        e.beginDecode(enc.data());
        speech::DecodeResult r = e.decodeGreedy(language);
        std::ofstream tf(out + "/tokens.txt");
        for (int tok : r.tokens) tf << tok << "\n";
        std::ofstream rf(out + "/result.txt");
        rf << r.language << "\n" << r.noSpeechProb << "\n" << r.avgLogprob << "\n" << t.decode(r.tokens) << "\n";
        // The same window decoded with its greedy text as the previous window's: the tokens
        // fed before the first sampled one, the logits along them, and the tokens.
        e.beginDecode(enc.data());
        speech::DecodeResult p = speech::WindowDecoder(e).decode(r.tokens, r.language, 0.0f, 0);
        std::ofstream pf(out + "/prompted-prefix.txt");
        for (int tok : p.prefix) pf << tok << "\n";
        std::ofstream ptf(out + "/prompted-tokens.txt");
        for (int tok : p.tokens) ptf << tok << "\n";
        e.beginDecode(enc.data());
        logits.clear();
        for (int tok : p.prefix) {
            const float* l = e.step(tok);
            logits.insert(logits.end(), l, l + hp.nVocab);
        }
        writeFloats(out + "/prompted-logits.f32", logits.data(), logits.size());

        std::cout << "language " << r.language << ", " << r.tokens.size() << " tokens, no-speech "
                  << r.noSpeechProb << ", avg logprob " << r.avgLogprob << ": " << t.decode(r.tokens) << "\n";
    } catch (const std::exception& ex) {
        std::cerr << "speech-dump: " << ex.what() << "\n";
        return 1;
    }
    return 0;
}
