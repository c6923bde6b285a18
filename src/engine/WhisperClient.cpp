#include "engine/WhisperClient.h"

#include "state/AppError.h"
#include "state/FailureText.h"
#include "engine/EngineManager.h"
#include "platform/Http.h"
#include "platform/Log.h"
#include "platform/MultipartBody.h"
#include "platform/PortListeners.h"

#include <QtGlobal>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr double kSessionTimeout = 180;
constexpr double kRequestTimeout = 60;
constexpr double kHealthTimeout = 2;

int codeOf(const platform::HttpResponse& response) { return response.status > 0 ? response.status : -1; }

// The port of "http://host:port/...", or 0 when the URL names none.
int portOf(const std::string& url) {
    const auto scheme = url.find("://");
    const auto hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    const auto hostEnd = url.find('/', hostStart);
    const std::string host = url.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
    const auto colon = host.rfind(':');
    if (colon == std::string::npos || host.find(']', colon) != std::string::npos) return 0;
    int port = 0;
    for (std::size_t i = colon + 1; i < host.size(); ++i) {
        if (host[i] < '0' || host[i] > '9' || port > 65535) return 0;
        port = port * 10 + (host[i] - '0');
    }
    return port;
}

std::string userName(unsigned uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[1024];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name) return found->pw_name;
    return "?";
}

// A server on a port that another user's process holds is not ours: what we send it (the user's
// voice) and what it answers (text we would paste) are not to be trusted. It counts as offline.
bool serverIsOurs(const std::string& url) {
    const int port = portOf(url);
    unsigned uid = 0;
    if (port <= 0 || platform::PortListeners::onlyOurs(port, &uid)) return true;
    qCWarning(logEngine, "port %d is held by a process of user %u (%s), not ours: the server counts as offline",
              port, uid, userName(uid).c_str());
    return false;
}

const char* const kOffline = "Whisper server offline";

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
    if (!serverIsOurs(url)) throw AppError(-1, kOffline);
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
    if (!serverIsOurs(fixedServerBase_)) throw AppError(-1, kOffline);
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
        if (const auto url = EngineManager::shared().inferenceURL(); url && !serverIsOurs(*url)) co_return false;
        const bool ready = co_await EngineManager::shared().waitUntilReady(3);
        co_return ready;
    }
    if (!serverIsOurs(fixedServerBase_)) co_return false;
    platform::HttpRequest request;
    request.url = fixedServerBase_ + "/health";
    request.timeout = kHealthTimeout;
    try {
        const platform::HttpResponse response = co_await session_->send(std::move(request));
        co_return response.status == 200;
    } catch (...) {
        qCWarning(logEngine, "the speech server at %s does not answer: %s", fixedServerBase_.c_str(),
                  FailureText::forLog(std::current_exception()).c_str());
        co_return false;
    }
}
