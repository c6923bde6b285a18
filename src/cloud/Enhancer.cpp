#include "cloud/Enhancer.h"

#include "state/ProviderModels.h"
#include "state/AppError.h"
#include "state/Secrets.h"
#include "cloud/JsonDecoder.h"
#include "platform/TextTools.h"

#include <nlohmann/json.hpp>

std::vector<Enhancer::Provider> Enhancer::allProviders() {
    std::vector<Provider> out;
    for (const auto& e : ProviderModels::all())
        if (e.enhances()) out.push_back(e.provider);
    return out;
}

const std::vector<Enhancer::Mode>& Enhancer::modes() {
    static const std::vector<Mode> list = {
        {"cleanup", "Clean up",
         "Fix grammar, punctuation and capitalization. Remove filler words, false starts and repetitions. Do not "
         "change the meaning or add anything."},
        {"email", "Email", "Rewrite this dictation as a clear, polite, concise email body. Keep all the facts."},
        {"notes", "Notes", "Turn this dictation into clean, well-structured bullet-point notes."},
        {"formal", "Professional",
         "Rewrite this in a clear, professional tone while keeping the meaning and all facts."},
        {"casual", "Casual", "Rewrite this in a natural, friendly, conversational tone while keeping the meaning."},
    };
    return list;
}

std::optional<Enhancer::Provider> Enhancer::providerFromRaw(const std::string& raw) {
    const auto p = ProviderModels::fromIdentifier(raw);
    if (p && ProviderModels::of(*p).enhances()) return p;
    return std::nullopt;
}

std::string Enhancer::rawValue(Provider p) { return ProviderModels::of(p).identifier; }

std::string Enhancer::displayName(Provider p) { return ProviderModels::of(p).name; }

std::vector<std::pair<std::string, std::string>> Enhancer::models(Provider p) {
    return ProviderModels::of(p).enhancement;
}

std::string Enhancer::endpoint(Provider p) {
    const auto& e = ProviderModels::of(p);
    return e.enhances() ? e.baseURL + e.chatPath : std::string();
}

std::string Enhancer::systemPrompt(const std::string& instruction, const std::string& language) {
    std::string sentence;
    if (language == "uk") {
        sentence = "The dictation is in Ukrainian. Keep the output in Ukrainian. If it contains English words or "
                   "technical terms, keep those exact words in English — never translate them.";
    } else if (language == "en") {
        sentence = "The dictation is in English. Keep the output in English.";
    } else {
        sentence = "Detect the language. It is usually Ukrainian and may contain English words or technical terms "
                   "mixed in — keep the Ukrainian parts in Ukrainian and the English words in English. Never "
                   "translate between the two.";
    }
    return instruction + "\n\n" + sentence +
           " Output ONLY the resulting text with no preamble, no quotes and no explanation.";
}

std::string Enhancer::resolveInstruction(const std::string& modeId, const std::string& customInstruction) {
    if (modeId == "custom" && !customInstruction.empty()) return customInstruction;
    for (const auto& m : modes())
        if (m.id == modeId) return m.instruction;
    return modes().front().instruction;
}

Enhancer::Enhancer() : http_(platform::Http::create(45)) {}
Enhancer::~Enhancer() = default;

void Enhancer::setEndpoint(Provider provider, std::string url) { endpoints_[provider] = std::move(url); }

std::string Enhancer::endpointFor(Provider provider) const {
    auto it = endpoints_.find(provider);
    return it != endpoints_.end() ? it->second : endpoint(provider);
}

platform::Task<std::string> Enhancer::enhance(std::string text, Provider provider, std::string model,
                                              std::string instruction, std::string language) {
    const std::string name = displayName(provider);
    const auto key = Secrets::get(Secrets::apiKeyAccount(rawValue(provider)));
    if (!key || key->empty()) throw AppError(20, "No " + name + " key for enhancement.");

    const nlohmann::json payload = {
        {"model", model},
        {"temperature", 0.3},
        {"messages",
         nlohmann::json::array({{{"role", "system"}, {"content", systemPrompt(instruction, language)}},
                                {{"role", "user"}, {"content", text}}})},
    };
    platform::HttpRequest req;
    req.method = "POST";
    req.url = endpointFor(provider);
    req.timeout = 60;
    req.headers = {{"Authorization", "Bearer " + *key}, {"Content-Type", "application/json"}};
    req.body = payload.dump();

    const platform::HttpResponse reply = co_await http_->send(std::move(req));
    // A failed reply is told by its status alone; its body is not read.
    if (reply.status != 200) throw AppError(reply.status, name + " enhancement HTTP " + std::to_string(reply.status));

    const nlohmann::json j = JsonDecoder::object(JsonDecoder::parse(reply.body), "reply");
    std::string content;
    bool first = true;
    for (const auto& choice : JsonDecoder::arrayField(j, "choices")) {
        const std::string c = JsonDecoder::string(JsonDecoder::objectField(JsonDecoder::object(choice, "choice"), "message"), "content");
        if (first) content = c;
        first = false;
    }
    const std::string result = platform::TextTools::trimmed(content);
    co_return result.empty() ? text : result;
}
