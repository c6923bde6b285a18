// A stand-in speech engine for the server tests. Its "model file" is a line of settings:
//   load_ms=N transcribe_ms=N fail_load=0|1 count_turns=0|1
// Its transcript describes what it received, e.g. "samples=16000 language=auto overlap=0",
// so tests can see the audio's length after conversion and whether two calls ever overlapped;
// with count_turns=1 it ends in " turn=N", the call's place (from 0) in the order they ran.
#pragma once

#include <speech/Recognizer.h>

#include <atomic>
#include <memory>
#include <string>

namespace servertest {

class FakeRecognizer : public speech::Recognizer {
public:
    explicit FakeRecognizer(int transcribeMs, bool countTurns = false)
        : transcribeMs_(transcribeMs), countTurns_(countTurns) {}

    // Reads the settings file, sleeps load_ms, and returns the recogniser.
    static std::unique_ptr<speech::Recognizer> load(const std::string& path);

    bool supportsLanguage(const std::string& code) const override;
    speech::Transcript transcribe(const float* samples, std::size_t count, const std::string& language) override;

private:
    int transcribeMs_;
    bool countTurns_;
    std::atomic<int> turns_{0};
    std::atomic<int> active_{0};
    std::atomic<bool> overlapped_{false};
};

}  // namespace servertest
