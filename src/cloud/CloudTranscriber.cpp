#include "cloud/CloudTranscriber.h"

#include "app/AppError.h"

namespace {
const std::vector<std::pair<CloudTranscriber::Provider, std::string>> kRaw = {
    {CloudTranscriber::Provider::groq, "groq"},         {CloudTranscriber::Provider::openai, "openai"},
    {CloudTranscriber::Provider::mistral, "mistral"},   {CloudTranscriber::Provider::deepgram, "deepgram"},
    {CloudTranscriber::Provider::elevenlabs, "elevenlabs"},
};
}

std::optional<CloudTranscriber::Provider> CloudTranscriber::providerFromRaw(const std::string& raw) {
    for (const auto& [p, r] : kRaw)
        if (r == raw) return p;
    return std::nullopt;
}

std::string CloudTranscriber::rawValue(Provider p) {
    for (const auto& [q, r] : kRaw)
        if (q == p) return r;
    return {};
}

std::string CloudTranscriber::displayName(Provider p) {
    switch (p) {
    case Provider::groq: return "Groq";
    case Provider::openai: return "OpenAI";
    case Provider::mistral: return "Mistral";
    case Provider::deepgram: return "Deepgram";
    case Provider::elevenlabs: return "ElevenLabs";
    }
    return {};
}

std::vector<std::pair<std::string, std::string>> CloudTranscriber::models(Provider p) {
    switch (p) {
    case Provider::groq: return {{"whisper-large-v3-turbo", "Whisper Large v3 Turbo"}};
    case Provider::openai: return {{"gpt-4o-transcribe", "GPT-4o Transcribe"}};
    case Provider::mistral: return {{"voxtral-mini-latest", "Voxtral Mini"}};
    case Provider::deepgram: return {{"nova-3", "Nova 3"}};
    case Provider::elevenlabs: return {{"scribe_v1", "Scribe v1"}};
    }
    return {};
}

CloudTranscriber::CloudTranscriber() = default;
CloudTranscriber::~CloudTranscriber() = default;

platform::Task<WhisperResult> CloudTranscriber::transcribe(std::string, std::string, Provider provider, std::string) {
    throw AppError(10, "No " + displayName(provider) + " API key — add it in Settings.");
    co_return WhisperResult{};
}
