// Speech-to-text by the cloud providers with the user's own key.
#pragma once

#include "engine/WhisperResult.h"
#include "platform/Task.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

class CloudTranscriber {
public:
    enum class Provider { groq, openai, mistral, deepgram, elevenlabs };
    static std::optional<Provider> providerFromRaw(const std::string& raw);
    static std::string rawValue(Provider p);
    static std::string displayName(Provider p);
    // (model id, label) pairs in order.
    static std::vector<std::pair<std::string, std::string>> models(Provider p);

    CloudTranscriber();
    virtual ~CloudTranscriber();
    virtual platform::Task<WhisperResult> transcribe(std::string wav, std::string lang, Provider provider,
                                                     std::string model);
};
