// HTTP client of the local speech servers: the engine server that EngineManager runs, or, while
// that is not running, the fixed-port server on this machine. A server whose port another user's
// process listens on is never sent anything: it counts as offline.
#pragma once

#include "state/WhisperResult.h"
#include "platform/Task.h"

#include <memory>
#include <string>

namespace platform {
class Http;
}

class WhisperClient {
public:
    // The fixed-port server; never started by the program.
    static constexpr const char* kFixedServerBase = "http://127.0.0.1:8756";

    WhisperClient();
    // `fixedServerBase` replaces kFixedServerBase (tests point it at a loopback fake).
    explicit WhisperClient(std::string fixedServerBase);
    virtual ~WhisperClient();

    // Sends one WAV image; `lang` is "auto" or a language code. Throws AppError ("Engine error"
    // or "Whisper server HTTP <status>", code = the status or -1), the HttpError of the
    // transfer, or the JSON error of a reply that is not a result.
    virtual platform::Task<WhisperResult> transcribe(std::string wav, std::string lang);
    // The engine server's readiness while it runs, else the fixed-port server's health.
    virtual platform::Task<bool> isHealthy();

    // The multipart body of an engine request.
    static std::string multipart(const std::string& boundary, const std::string& wav, const std::string& lang);

private:
    platform::Task<WhisperResult> transcribeBundled(std::string wav, std::string lang, std::string url);
    platform::Task<WhisperResult> transcribeDevServer(std::string wav, std::string lang);

    std::string fixedServerBase_;
    std::unique_ptr<platform::Http> session_;
};
