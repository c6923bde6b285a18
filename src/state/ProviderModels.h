// The cloud providers that take the user's own key, in one table: how the settings store each,
// how it is shown, where its API lives, the models it offers and whether it rewrites text.
// Speech-to-text and the rewrite both read their providers here; the settings read their
// default models here.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class CloudProvider { groq, openai, mistral, deepgram, elevenlabs };

namespace ProviderModels {

// (model id, label) pairs in order; the first is the default.
using List = std::vector<std::pair<std::string, std::string>>;

// The shape of a provider's speech-to-text request.
enum class SpeechAPI {
    openAI,      // multipart "file" + "model", Bearer key (Groq, OpenAI, Mistral)
    deepgram,    // the WAV as the body, options in the query, "Token" key
    elevenLabs,  // multipart "file" + "model_id", "xi-api-key" header
};

struct Entry {
    CloudProvider provider;
    std::string identifier;  // the stored value ("groq"); also names its key ("groqApiKey")
    std::string name;        // shown to the user ("Groq")
    std::string baseURL;     // the public API host ("https://api.groq.com")
    std::string speechPath;  // the transcription endpoint below the host
    SpeechAPI speechAPI;
    std::string chatPath;    // the chat-completion endpoint below the host; empty: no rewrite
    std::string keyPage;     // where a key is got, as it follows "Get a key at "
    List speech;             // speech-to-text models
    List enhancement;        // rewrite models; empty exactly when chatPath is
    bool enhances() const { return !enhancement.empty(); }
};

// Every provider, in the order the settings list them.
const std::vector<Entry>& all();
const Entry& of(CloudProvider provider);
// The provider stored as `identifier` (exact, case-sensitive); nullopt for any other value.
std::optional<CloudProvider> fromIdentifier(const std::string& identifier);

// Speech-to-text models of the provider stored as `identifier`; empty for any other value.
List speech(const std::string& identifier);
// Rewrite models of the provider stored as `identifier`; empty when it offers none.
List enhancement(const std::string& identifier);

}  // namespace ProviderModels
