#include "dictation/Transcriber.h"

#include "engine/WhisperClient.h"

Transcriber::Transcriber(WhisperClient& local, CloudTranscriber& cloud) : local_(local), cloud_(cloud) {}
Transcriber::~Transcriber() = default;

platform::Task<WhisperResult> Transcriber::transcribe(std::string wav, std::string lang) {
    co_return co_await local_.transcribe(std::move(wav), std::move(lang));
}

platform::Task<bool> Transcriber::isHealthy() { co_return co_await local_.isHealthy(); }
