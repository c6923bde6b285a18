#include "dictation/Transcriber.h"

#include "state/AppSettings.h"
#include "state/FailureText.h"
#include "state/Secrets.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudTranscriber.h"
#include "engine/EngineManager.h"
#include "engine/WhisperClient.h"
#include "platform/Log.h"

Transcriber::Transcriber(WhisperClient& local, CloudTranscriber& cloud) : local_(local), cloud_(cloud) {}
Transcriber::~Transcriber() = default;

platform::Task<WhisperResult> Transcriber::transcribe(std::string wav, std::string lang) {
    const Route route = AppSettings::shared().route();
    std::exception_ptr remoteError;
    if (route.isAccount()) {
        try {
            WhisperResult result = co_await BackendClient::shared().transcribeRemote(wav, lang);
            co_return result;
        } catch (...) {
            remoteError = std::current_exception();
            qCWarning(logDictation, "the account service's transcription failed (%s); the on-device server is tried",
                      FailureText::forLog(remoteError).c_str());
        }
    } else if (auto cloudProvider = route.cloudProvider()) {
        try {
            WhisperResult result =
                co_await cloud_.transcribe(wav, lang, *cloudProvider, AppSettings::shared().cloudModel(route.stored()));
            co_return result;
        } catch (...) {
            remoteError = std::current_exception();
            qCWarning(logDictation, "the cloud transcription failed (%s); the on-device server is tried",
                      FailureText::forLog(remoteError).c_str());
        }
    } else {
        WhisperResult result = co_await local_.transcribe(std::move(wav), std::move(lang));
        co_return result;
    }
    // Results are named before co_return: GCC 12 mishandles temporaries in "co_return co_await".
    WhisperResult result = co_await localFallback(std::move(wav), std::move(lang), remoteError);
    co_return result;
}

platform::Task<WhisperResult> Transcriber::localFallback(std::string wav, std::string lang,
                                                         std::exception_ptr remoteError) {
    const bool ready = co_await EngineManager::shared().ensureReadyForFallback();
    if (!ready) {
        qCWarning(logDictation, "no on-device server to fall back on");
        std::rethrow_exception(remoteError);
    }
    WhisperResult result = co_await local_.transcribe(std::move(wav), std::move(lang));
    co_return result;
}

platform::Task<bool> Transcriber::isHealthy() {
    const Route route = AppSettings::shared().route();
    if (route.isAccount())
        co_return BackendClient::shared().isLoggedIn() || EngineManager::shared().fallbackAvailable();
    if (route.cloudProvider()) {
        const auto key = Secrets::get(Secrets::apiKeyAccount(route.stored()));
        co_return (key && !key->empty()) || EngineManager::shared().fallbackAvailable();
    }
    const bool healthy = co_await local_.isHealthy();
    co_return healthy;
}
