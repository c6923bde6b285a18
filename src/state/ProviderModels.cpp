#include "state/ProviderModels.h"

namespace ProviderModels {

const std::vector<Entry>& all() {
    static const std::vector<Entry> table = {
        {CloudProvider::groq, "groq", "Groq", "https://api.groq.com", "/openai/v1/audio/transcriptions",
         SpeechAPI::openAI, "/openai/v1/chat/completions", "console.groq.com/keys (free)",
         {{"whisper-large-v3-turbo", "Whisper Large v3 Turbo — fast"},
          {"whisper-large-v3", "Whisper Large v3 — accurate"},
          {"distil-whisper-large-v3-en", "Distil Whisper (English only)"}},
         {{"llama-3.3-70b-versatile", "Llama 3.3 70B — best"},
          {"llama-3.1-8b-instant", "Llama 3.1 8B — fastest"},
          {"openai/gpt-oss-120b", "GPT-OSS 120B"}}},
        {CloudProvider::openai, "openai", "OpenAI", "https://api.openai.com", "/v1/audio/transcriptions",
         SpeechAPI::openAI, "/v1/chat/completions", "platform.openai.com/api-keys",
         {{"gpt-4o-transcribe", "GPT-4o Transcribe — best"},
          {"gpt-4o-mini-transcribe", "GPT-4o mini Transcribe — cheap"},
          {"whisper-1", "Whisper v2"}},
         {{"gpt-4o-mini", "GPT-4o mini — cheap & good"}, {"gpt-4o", "GPT-4o — best"}}},
        {CloudProvider::mistral, "mistral", "Mistral", "https://api.mistral.ai", "/v1/audio/transcriptions",
         SpeechAPI::openAI, "/v1/chat/completions", "console.mistral.ai/api-keys",
         {{"voxtral-mini-latest", "Voxtral Mini"}},
         {{"mistral-small-latest", "Mistral Small"}, {"mistral-large-latest", "Mistral Large"}}},
        {CloudProvider::deepgram, "deepgram", "Deepgram", "https://api.deepgram.com", "/v1/listen",
         SpeechAPI::deepgram, "", "console.deepgram.com (free credits)",
         {{"nova-3", "Nova-3 — newest"}, {"nova-2", "Nova-2"}},
         {}},
        {CloudProvider::elevenlabs, "elevenlabs", "ElevenLabs", "https://api.elevenlabs.io", "/v1/speech-to-text",
         SpeechAPI::elevenLabs, "", "elevenlabs.io \u2192 API keys",
         {{"scribe_v1", "Scribe v1"}, {"scribe_v1_experimental", "Scribe v1 (experimental)"}},
         {}},
    };
    return table;
}

const Entry& of(CloudProvider provider) {
    for (const Entry& e : all())
        if (e.provider == provider) return e;
    return all().front();  // unreachable: every enumerator has its row
}

std::optional<CloudProvider> fromIdentifier(const std::string& identifier) {
    for (const Entry& e : all())
        if (e.identifier == identifier) return e.provider;
    return std::nullopt;
}

List speech(const std::string& identifier) {
    if (const auto p = fromIdentifier(identifier)) return of(*p).speech;
    return {};
}

List enhancement(const std::string& identifier) {
    if (const auto p = fromIdentifier(identifier)) return of(*p).enhancement;
    return {};
}

}  // namespace ProviderModels
