#include "cloud/CloudTranscriber.h"

#include "state/ProviderModels.h"
#include "state/AppError.h"
#include "state/Secrets.h"
#include "cloud/JsonDecoder.h"
#include "platform/Http.h"
#include "platform/MultipartBody.h"
#include "platform/TextTools.h"

#include <nlohmann/json.hpp>

namespace {

using Provider = CloudTranscriber::Provider;
constexpr double kTimeout = 60;
constexpr double kRetryPauseLimit = 10;  // seconds

std::optional<std::string> languageOf(const std::string& lang) {
    if (lang == "auto") return std::nullopt;
    return lang;
}

// Seconds a 429 reply asks to wait ("Retry-After: <seconds>"), nullopt when it names none or a date.
std::optional<double> retryAfter(const platform::HttpResponse& response) {
    const std::string value = platform::TextTools::trimmed(response.header("Retry-After"));
    if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stod(value);
}

// Accepts exactly 200; anything else becomes "<Name>: <message>" with the status as its code.
void check(const platform::HttpResponse& response, Provider provider) {
    if (response.status == 200) return;
    std::optional<std::string> message;
    if (platform::TextTools::isUtf8(response.body)) message = CloudTranscriber::errorMessage(response.body);
    if (!message) message = "HTTP " + std::to_string(response.status);
    throw AppError(response.status, CloudTranscriber::displayName(provider) + ": " + *message);
}

}  // namespace

const std::vector<Provider>& CloudTranscriber::allProviders() {
    static const std::vector<Provider> all = [] {
        std::vector<Provider> out;
        for (const auto& e : ProviderModels::all()) out.push_back(e.provider);
        return out;
    }();
    return all;
}

std::optional<Provider> CloudTranscriber::providerFromRaw(const std::string& raw) {
    return ProviderModels::fromIdentifier(raw);
}

std::string CloudTranscriber::rawValue(Provider p) { return ProviderModels::of(p).identifier; }

std::string CloudTranscriber::displayName(Provider p) { return ProviderModels::of(p).name; }

std::vector<std::pair<std::string, std::string>> CloudTranscriber::models(Provider p) {
    return ProviderModels::of(p).speech;
}

std::string CloudTranscriber::defaultBaseURL(Provider p) { return ProviderModels::of(p).baseURL; }

CloudTranscriber::CloudTranscriber() : CloudTranscriber(platform::Http::create(kTimeout), {}) {}

CloudTranscriber::CloudTranscriber(std::shared_ptr<platform::Http> http, std::map<Provider, std::string> baseURLs)
    : http_(std::move(http)), baseURLs_(std::move(baseURLs)) {}

CloudTranscriber::~CloudTranscriber() = default;

std::unique_ptr<CloudTranscriber> CloudTranscriber::withBaseURL(const std::string& baseURL) {
    std::map<Provider, std::string> bases;
    for (Provider p : allProviders()) bases[p] = baseURL;
    return std::make_unique<CloudTranscriber>(platform::Http::create(kTimeout), std::move(bases));
}

std::string CloudTranscriber::endpoint(Provider p) const {
    auto it = baseURLs_.find(p);
    const std::string base = it != baseURLs_.end() ? it->second : defaultBaseURL(p);
    return base + ProviderModels::of(p).speechPath;
}

platform::Task<WhisperResult> CloudTranscriber::transcribe(std::string wav, std::string lang, Provider provider,
                                                           std::string model) {
    const std::string key = Secrets::get(Secrets::apiKeyAccount(rawValue(provider))).value_or("");
    if (key.empty()) throw AppError(10, "No " + displayName(provider) + " API key — add it in Settings.");
    // Each result is named before it is returned (GCC 12 mishandles co_return co_await).
    WhisperResult result;
    switch (ProviderModels::of(provider).speechAPI) {
    case ProviderModels::SpeechAPI::deepgram:
        result = co_await deepgram(std::move(wav), std::move(lang), provider, std::move(model), key);
        break;
    case ProviderModels::SpeechAPI::elevenLabs:
        result = co_await elevenlabs(std::move(wav), std::move(lang), provider, std::move(model), key);
        break;
    case ProviderModels::SpeechAPI::openAI:
        result = co_await openAICompat(std::move(wav), std::move(lang), provider, std::move(model), key);
        break;
    }
    co_return result;
}

platform::Task<platform::HttpResponse> CloudTranscriber::send(platform::HttpRequest request) {
    platform::Scheduler& clock = platform::Scheduler::main();
    const double started = clock.now();
    platform::HttpResponse response = co_await http_->send(request);
    // A rate limit that asks for a short pause is waited out once, when the pause still fits in
    // the time the route allows a recording; any other refusal stands.
    if (response.status == 429) {
        const auto pause = retryAfter(response);
        if (pause && *pause <= kRetryPauseLimit && clock.now() - started + *pause < kTimeout) {
            co_await platform::sleepFor(*pause, clock);
            response = co_await http_->send(std::move(request));
        }
    }
    co_return response;
}

std::string CloudTranscriber::multipart(const std::string& boundary, const std::string& fileField,
                                        const std::string& wav,
                                        const std::vector<std::pair<std::string, std::string>>& fields) {
    platform::MultipartBody form(boundary);
    form.file(fileField, "audio.wav", "audio/wav", wav);
    for (const auto& [name, value] : fields) form.field(name, value);
    return form.finish();
}

platform::Task<WhisperResult> CloudTranscriber::openAICompat(std::string wav, std::string lang, Provider provider,
                                                             std::string model, std::string key) {
    std::vector<std::pair<std::string, std::string>> fields = {{"model", model}, {"response_format", "json"}};
    if (lang != "auto") fields.emplace_back("language", lang);
    co_return co_await postForm(provider, {"Authorization", "Bearer " + key}, std::move(wav), std::move(lang),
                                std::move(fields));
}

platform::Task<WhisperResult> CloudTranscriber::postForm(Provider provider, std::pair<std::string, std::string> auth,
                                                         std::string wav, std::string lang,
                                                         std::vector<std::pair<std::string, std::string>> fields) {
    const std::string boundary = "Wendaro-" + platform::http::makeUuid();
    platform::HttpRequest request;
    request.method = "POST";
    request.url = endpoint(provider);
    request.timeout = kTimeout;
    request.headers = {std::move(auth), {"Content-Type", "multipart/form-data; boundary=" + boundary}};
    request.body = multipart(boundary, "file", wav, fields);
    const platform::HttpResponse response = co_await send(std::move(request));
    check(response, provider);
    const auto json = JsonDecoder::parse(response.body);
    JsonDecoder::object(json, "transcription reply");
    co_return WhisperResult{JsonDecoder::string(json, "text"), languageOf(lang)};
}

platform::Task<WhisperResult> CloudTranscriber::deepgram(std::string wav, std::string lang, Provider provider,
                                                         std::string model, std::string key) {
    using platform::http::percentEncode;
    std::string url = endpoint(provider) + "?model=" + percentEncode(model) +
                      "&smart_format=true&punctuate=true";
    url += lang != "auto" ? "&language=" + percentEncode(lang) : std::string("&detect_language=true");
    platform::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeout = kTimeout;
    request.headers = {{"Authorization", "Token " + key}, {"Content-Type", "audio/wav"}};
    request.body = std::move(wav);
    const platform::HttpResponse response = co_await send(std::move(request));
    check(response, provider);
    const auto json = JsonDecoder::parse(response.body);
    JsonDecoder::object(json, "transcription reply");
    const auto& channels = JsonDecoder::arrayField(JsonDecoder::objectField(json, "results"), "channels");
    // Every channel must hold its alternatives and every alternative its transcript, not only
    // the first ones that are read.
    std::string text;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const auto& alternatives = JsonDecoder::arrayField(JsonDecoder::object(channels[c], "channel"), "alternatives");
        for (std::size_t a = 0; a < alternatives.size(); ++a) {
            const std::string transcript = JsonDecoder::string(JsonDecoder::object(alternatives[a], "alternative"), "transcript");
            if (c == 0 && a == 0) text = transcript;
        }
    }
    co_return WhisperResult{text, languageOf(lang)};
}

platform::Task<WhisperResult> CloudTranscriber::elevenlabs(std::string wav, std::string lang, Provider provider,
                                                           std::string model, std::string key) {
    std::vector<std::pair<std::string, std::string>> fields = {{"model_id", model}};
    if (lang != "auto") fields.emplace_back("language_code", lang);
    co_return co_await postForm(provider, {"xi-api-key", key}, std::move(wav), std::move(lang), std::move(fields));
}

std::optional<std::string> CloudTranscriber::errorMessage(const std::string& body) {
    if (body.empty()) return std::nullopt;
    const auto json = nlohmann::json::parse(body, nullptr, false);
    if (!json.is_discarded() && json.is_object()) {
        if (auto e = json.find("error"); e != json.end()) {
            if (e->is_object()) {
                if (auto m = e->find("message"); m != e->end() && m->is_string()) return m->get<std::string>();
            }
            if (e->is_string()) return e->get<std::string>();
        }
        if (auto m = json.find("message"); m != json.end() && m->is_string()) return m->get<std::string>();
        if (auto d = json.find("detail"); d != json.end() && d->is_string()) return d->get<std::string>();
    }
    return platform::TextTools::firstCharacters(body, 160);
}
