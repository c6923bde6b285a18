#include "engine/WhisperClient.h"

#include "app/state/AppError.h"
#include "engine/EngineManager.h"
#include "platform/Http.h"
#include "platform/MultipartBody.h"

namespace {

constexpr double kSessionTimeout = 180;
constexpr double kRequestTimeout = 60;
constexpr double kHealthTimeout = 2;

int codeOf(const platform::HttpResponse& response) { return response.status > 0 ? response.status : -1; }

}  // namespace

WhisperClient::WhisperClient() : WhisperClient(kFixedServerBase) {}

WhisperClient::WhisperClient(std::string fixedServerBase)
    : fixedServerBase_(std::move(fixedServerBase)), session_(platform::Http::create(kSessionTimeout)) {}

WhisperClient::~WhisperClient() = default;

std::string WhisperClient::multipart(const std::string& boundary, const std::string& wav, const std::string& lang) {
    platform::MultipartBody form(boundary);
    form.file("file", "audio.wav", "audio/wav", wav);
    if (lang != "auto") form.field("language", lang);
    form.field("response_format", "json");
    return form.finish();
}

platform::Task<WhisperResult> WhisperClient::transcribe(std::string wav, std::string lang) {
    // Results are named before co_return: GCC 12 mishandles temporaries in "co_return co_await".
    if (auto url = EngineManager::shared().inferenceURL()) {
        WhisperResult result = co_await transcribeBundled(std::move(wav), std::move(lang), *url);
        co_return result;
    }
    WhisperResult result = co_await transcribeDevServer(std::move(wav), std::move(lang));
    co_return result;
}

platform::Task<WhisperResult> WhisperClient::transcribeBundled(std::string wav, std::string lang, std::string url) {
    const std::string boundary = "Wendaro-" + platform::http::makeUuid();
    platform::HttpRequest request;
    request.method = "POST";
    request.url = std::move(url);
    request.timeout = kRequestTimeout;
    request.headers = {{"Content-Type", "multipart/form-data; boundary=" + boundary}};
    request.body = multipart(boundary, wav, lang);
    const platform::HttpResponse response = co_await session_->send(std::move(request));
    if (response.status != 200) throw AppError(codeOf(response), "Engine error");
    WhisperResult result = WhisperResult::decode(response.body);
    // The language is the one asked for; the server's guess is not passed on.
    if (lang == "auto")
        result.language.reset();
    else
        result.language = lang;
    co_return result;
}

platform::Task<WhisperResult> WhisperClient::transcribeDevServer(std::string wav, std::string lang) {
    platform::HttpRequest request;
    request.method = "POST";
    request.url = fixedServerBase_ + "/transcribe";
    if (lang != "auto") request.url += "?lang=" + platform::http::percentEncode(lang);
    request.timeout = kRequestTimeout;
    request.headers = {{"Content-Type", "audio/wav"}};
    request.body = std::move(wav);
    const platform::HttpResponse response = co_await session_->send(std::move(request));
    if (response.status != 200) {
        const int code = codeOf(response);
        throw AppError(code, "Whisper server HTTP " + std::to_string(code));
    }
    co_return WhisperResult::decode(response.body);
}

platform::Task<bool> WhisperClient::isHealthy() {
    if (EngineManager::shared().running()) {
        const bool ready = co_await EngineManager::shared().waitUntilReady(3);
        co_return ready;
    }
    platform::HttpRequest request;
    request.url = fixedServerBase_ + "/health";
    request.timeout = kHealthTimeout;
    try {
        const platform::HttpResponse response = co_await session_->send(std::move(request));
        co_return response.status == 200;
    } catch (...) {
        co_return false;
    }
}
