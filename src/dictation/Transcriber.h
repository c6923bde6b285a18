// Chooses, for each recording, where its speech becomes text: the account service, a cloud
// provider with the user's key, or the local speech server. A failing remote route falls back
// to the local server when that can be made ready.
#pragma once

#include "state/WhisperResult.h"
#include "platform/Task.h"

#include <exception>
#include <string>

class WhisperClient;
class CloudTranscriber;

class Transcriber {
public:
    Transcriber(WhisperClient& local, CloudTranscriber& cloud);
    virtual ~Transcriber();

    // Routes by the provider setting (read once, at the start). Errors are passed on as they are.
    virtual platform::Task<WhisperResult> transcribe(std::string wav, std::string lang);
    // Whether the chosen route can serve a recording now.
    virtual platform::Task<bool> isHealthy();

protected:
    WhisperClient& local_;
    CloudTranscriber& cloud_;

private:
    // The local server after a remote failure; `remoteError` stands when it cannot be made ready.
    platform::Task<WhisperResult> localFallback(std::string wav, std::string lang, std::exception_ptr remoteError);
};
