#include "cloud/Enhancer.h"

#include "app/AppError.h"

const std::vector<Enhancer::Mode>& Enhancer::modes() {
    static const std::vector<Mode> list = {
        {"cleanup", "Clean up",
         "Fix grammar, punctuation and capitalization. Remove filler words, false starts and repetitions. Do not "
         "change the meaning or add anything."},
    };
    return list;
}

std::optional<Enhancer::Provider> Enhancer::providerFromRaw(const std::string& raw) {
    if (raw == "groq") return Provider::groq;
    if (raw == "openai") return Provider::openai;
    if (raw == "mistral") return Provider::mistral;
    return std::nullopt;
}

std::string Enhancer::rawValue(Provider p) {
    switch (p) {
    case Provider::groq: return "groq";
    case Provider::openai: return "openai";
    case Provider::mistral: return "mistral";
    }
    return {};
}

std::string Enhancer::displayName(Provider p) {
    switch (p) {
    case Provider::groq: return "Groq";
    case Provider::openai: return "OpenAI";
    case Provider::mistral: return "Mistral";
    }
    return {};
}

std::vector<std::pair<std::string, std::string>> Enhancer::models(Provider p) {
    switch (p) {
    case Provider::groq: return {{"llama-3.3-70b-versatile", "Llama 3.3 70B"}};
    case Provider::openai: return {{"gpt-4o-mini", "GPT-4o mini"}};
    case Provider::mistral: return {{"mistral-small-latest", "Mistral Small"}};
    }
    return {};
}

std::string Enhancer::systemPrompt(const std::string& instruction, const std::string&) { return instruction; }

Enhancer::Enhancer() = default;
Enhancer::~Enhancer() = default;

platform::Task<std::string> Enhancer::enhance(std::string, Provider provider, std::string, std::string, std::string) {
    throw AppError(20, "No " + displayName(provider) + " key for enhancement.");
    co_return std::string{};
}
