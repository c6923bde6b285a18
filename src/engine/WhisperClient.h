// HTTP client of the local speech servers.
#pragma once

#include "engine/WhisperResult.h"
#include "platform/Task.h"

#include <string>

class WhisperClient {
public:
    WhisperClient();
    virtual ~WhisperClient();
    virtual platform::Task<WhisperResult> transcribe(std::string wav, std::string lang);
    virtual platform::Task<bool> isHealthy();
};
