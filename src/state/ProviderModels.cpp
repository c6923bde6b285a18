#include "state/ProviderModels.h"

namespace ProviderModels {

List speech(const std::string& provider) {
    if (provider == "groq")
        return {{"whisper-large-v3-turbo", "Whisper Large v3 Turbo — fast"},
                {"whisper-large-v3", "Whisper Large v3 — accurate"},
                {"distil-whisper-large-v3-en", "Distil Whisper (English only)"}};
    if (provider == "openai")
        return {{"gpt-4o-transcribe", "GPT-4o Transcribe — best"},
                {"gpt-4o-mini-transcribe", "GPT-4o mini Transcribe — cheap"},
                {"whisper-1", "Whisper v2"}};
    if (provider == "mistral") return {{"voxtral-mini-latest", "Voxtral Mini"}};
    if (provider == "deepgram") return {{"nova-3", "Nova-3 — newest"}, {"nova-2", "Nova-2"}};
    if (provider == "elevenlabs")
        return {{"scribe_v1", "Scribe v1"}, {"scribe_v1_experimental", "Scribe v1 (experimental)"}};
    return {};
}

List enhancement(const std::string& provider) {
    if (provider == "groq")
        return {{"llama-3.3-70b-versatile", "Llama 3.3 70B — best"},
                {"llama-3.1-8b-instant", "Llama 3.1 8B — fastest"},
                {"openai/gpt-oss-120b", "GPT-OSS 120B"}};
    if (provider == "openai") return {{"gpt-4o-mini", "GPT-4o mini — cheap & good"}, {"gpt-4o", "GPT-4o — best"}};
    if (provider == "mistral") return {{"mistral-small-latest", "Mistral Small"}, {"mistral-large-latest", "Mistral Large"}};
    return {};
}

}  // namespace ProviderModels
