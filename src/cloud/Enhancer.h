// The language-model rewrite of a transcript with the user's own key: one chat-completion
// request to Groq, OpenAI or Mistral. Also owns the style presets and the prompt rule that the
// account service's enhancement uses too.
#pragma once

#include "state/ProviderModels.h"
#include "platform/Http.h"
#include "platform/Task.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Enhancer {
public:
    // The providers of ProviderModels that offer rewrite models.
    using Provider = CloudProvider;
    struct Mode {
        std::string id;
        std::string name;
        std::string instruction;
    };

    static std::vector<Provider> allProviders();
    static const std::vector<Mode>& modes();
    // nullopt also for a provider that offers no rewrite.
    static std::optional<Provider> providerFromRaw(const std::string& raw);
    static std::string rawValue(Provider p);
    static std::string displayName(Provider p);
    // (model id, label) pairs; the first is the default.
    static std::vector<std::pair<std::string, std::string>> models(Provider p);
    // The provider's chat-completion endpoint on its public API host ("" when it offers no rewrite).
    static std::string endpoint(Provider p);
    // instruction + "\n\n" + the language sentence + " Output ONLY ...".
    static std::string systemPrompt(const std::string& instruction, const std::string& language);
    // The instruction for a style setting: the custom text for "custom" when it is not empty,
    // else the preset of that id, else the clean-up preset.
    static std::string resolveInstruction(const std::string& modeId, const std::string& customInstruction);

    Enhancer();
    virtual ~Enhancer();
    Enhancer(const Enhancer&) = delete;
    Enhancer& operator=(const Enhancer&) = delete;

    // The rewritten text; the input itself when the model answers with nothing. Throws AppError
    // 20 without a key (no request made), AppError <status> for any reply but 200, HttpError on
    // transport failure and DecodingError for a reply of another shape.
    virtual platform::Task<std::string> enhance(std::string text, Provider provider, std::string model,
                                                std::string instruction, std::string language);

    // Sends `provider`'s requests to `url` instead of its public endpoint (tests).
    void setEndpoint(Provider provider, std::string url);
    std::string endpointFor(Provider provider) const;

private:
    std::unique_ptr<platform::Http> http_;
    std::map<Provider, std::string> endpoints_;
};
