// The models each provider offers, as (model id, label) pairs in order; the first is the
// default. The settings read their defaults here, the providers their choices.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ProviderModels {

using List = std::vector<std::pair<std::string, std::string>>;

// Speech-to-text models of a cloud provider ("groq", "openai", "mistral", "deepgram",
// "elevenlabs"); empty for any other identifier.
List speech(const std::string& provider);
// Rewrite models of an enhancement provider ("groq", "openai", "mistral"); empty otherwise.
List enhancement(const std::string& provider);

}  // namespace ProviderModels
