// The Recognizer over the engine: language checks, silent windows dropped, windows joined
// into one text.
#pragma once

#include "WhisperEngine.h"
#include "speech/Recognizer.h"

namespace speech {

class WhisperRecognizer : public Recognizer {
public:
    WhisperRecognizer(const std::string& path, int threads, const RecognizerOptions& options = {});

    bool supportsLanguage(const std::string& code) const override;
    Transcript transcribe(const float* samples, std::size_t count, const std::string& language) override;

    WhisperEngine& engine() { return engine_; }
    const StageTimes& lastTimes() const { return times_; }

private:
    WhisperEngine engine_;
    StageTimes times_;
};

}  // namespace speech
