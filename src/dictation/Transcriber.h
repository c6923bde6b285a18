// Chooses, for each recording, where its speech becomes text.
#pragma once

#include "engine/WhisperResult.h"
#include "platform/Task.h"

#include <string>

class WhisperClient;
class CloudTranscriber;

class Transcriber {
public:
    Transcriber(WhisperClient& local, CloudTranscriber& cloud);
    virtual ~Transcriber();

    virtual platform::Task<WhisperResult> transcribe(std::string wav, std::string lang);
    virtual platform::Task<bool> isHealthy();

protected:
    WhisperClient& local_;
    CloudTranscriber& cloud_;
};
