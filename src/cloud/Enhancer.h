// The language-model rewrite of a transcript with the user's own key.
#pragma once

#include "platform/Task.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

class Enhancer {
public:
    enum class Provider { groq, openai, mistral };
    struct Mode {
        std::string id;
        std::string name;
        std::string instruction;
    };

    static const std::vector<Mode>& modes();
    static std::optional<Provider> providerFromRaw(const std::string& raw);
    static std::string rawValue(Provider p);
    static std::string displayName(Provider p);
    static std::vector<std::pair<std::string, std::string>> models(Provider p);
    static std::string systemPrompt(const std::string& instruction, const std::string& language);

    Enhancer();
    virtual ~Enhancer();
    virtual platform::Task<std::string> enhance(std::string text, Provider provider, std::string model,
                                                std::string instruction, std::string language);
};
