// The speech engine's public face: a loaded model that turns 16 kHz mono audio into text.
// The servers talk only to this interface, so they can be tested with a stand-in recogniser.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

namespace speech {

// Any failure to load or run a model: the message names what is wrong.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Transcript {
    std::string text;      // UTF-8, trimmed; empty when the audio holds no speech
    std::string language;  // code of the language decoded ("en", "uk", ...)
};

class Recognizer {
public:
    virtual ~Recognizer() = default;

    // True when `code` names a language the model can be asked for ("auto" always is).
    virtual bool supportsLanguage(const std::string& code) const = 0;

    // Transcribes `samples` (16 kHz mono, -1..1). `language` is a code or "auto" (detect).
    // Throws speech::Error. Not required to be reentrant: callers serialise requests.
    virtual Transcript transcribe(const float* samples, std::size_t count, const std::string& language) = 0;
};

// How the engine multiplies by the model's weights: F16 as stored in the file (f16, or f32),
// Q8 converted once, at load, to blocks of 32 int8 values with one scale each (about half
// the memory, and faster products).
enum class WeightType { F16, Q8 };

struct RecognizerOptions {
    // A window whose text repeats itself or is unlikely is decoded again at higher
    // temperatures. Off only for measurements and comparisons.
    bool temperatureFallback = true;
    WeightType weights = WeightType::F16;
};

// The kernel set the engine runs ("avx512", "avx2" or "generic") and why: "avx2, detected"
// or "generic, forced by TOVRIN_SPEECH_ISA". Throws speech::Error when TOVRIN_SPEECH_ISA
// (case ignored) names no set, listing the valid values, or names one this processor lacks.
std::string kernelSetInUse();

// Loads a ggml Whisper model file; `threads` is the size of the engine's worker pool.
// Throws speech::Error with a message naming the problem (bad magic, truncated file, ...).
std::unique_ptr<Recognizer> loadWhisperModel(const std::string& path, int threads,
                                             const RecognizerOptions& options = {});

// The verdict on a model file judged by its headers alone, without loading it.
struct ModelFileCheck {
    enum class Verdict { Whole, NotAModel, Damaged };
    Verdict verdict = Verdict::Damaged;
    std::string problem;  // what is wrong, "" when whole
};

// Checks a ggml Whisper model file the way the loader reads it: the magic, the header, every
// tensor's name and shape, and that the file holds exactly the bytes those shapes require (a
// truncated or padded file is Damaged). Reads the headers only, never the weights; never throws.
ModelFileCheck checkModelFile(const std::string& path);

}  // namespace speech
