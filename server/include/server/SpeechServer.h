// The HTTP side of the speech servers: binds one loopback address, loads the model in the
// background after binding (so readiness is real), and answers
//   GET  /  and  GET /health      200 once the model is loaded, 503 before
//   POST /inference               multipart form: "file" (WAV), optional "language", "response_format"
//   POST /transcribe[?lang=xx]    the raw WAV as the body
// with {"text": ..., "language": ...} or {"error": ...}. One transcription runs at a time; later
// requests wait their turn in arrival order, while probes and bad requests are answered at once.
// Slow or stalled clients are cut off by deadlines (see GuardedHttpServer).
#pragma once

#include "server/ServerOptions.h"
#include "server/Turnstile.h"

#include <speech/Recognizer.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace httplib {
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace server {

class GuardedHttpServer;

class SpeechServer {
public:
    using Loader = std::function<std::unique_ptr<speech::Recognizer>()>;
    enum class State { Loading, Ready, Failed };

    SpeechServer(ServerOptions options, Loader loader);
    ~SpeechServer();
    SpeechServer(const SpeechServer&) = delete;
    SpeechServer& operator=(const SpeechServer&) = delete;

    // Binds exactly options.host:options.port (port 0 picks a free one) and returns the port.
    // Throws std::runtime_error when the address cannot be bound.
    int bind();

    // Starts loading the model on a background thread; `done` is called there with the outcome.
    void startLoading(std::function<void(bool loaded)> done = {});

    // Serves requests until stop(); call after bind().
    void run();
    // Closes the listening socket; run() returns once the requests in flight are answered.
    void stop();
    bool listening() const;

    State state() const { return state_.load(std::memory_order_acquire); }

private:
    void installRoutes();
    void answerReadiness(httplib::Response& res) const;
    std::string readBody(const httplib::ContentReader& reader, httplib::Response& res) const;
    void handleInference(const httplib::Request& req, const std::string& body, httplib::Response& res);
    void handleTranscribe(const httplib::Request& req, const std::string& body, httplib::Response& res);
    // Validates, decodes and transcribes one WAV image; returns the JSON reply body.
    std::string transcribe(std::string_view wav, const std::string& language, const char* route);
    speech::Recognizer& readyRecognizer() const;

    ServerOptions options_;
    Loader loader_;
    std::unique_ptr<GuardedHttpServer> http_;
    std::unique_ptr<speech::Recognizer> recognizer_;
    std::atomic<State> state_{State::Loading};
    std::string loadError_;  // written before state_ becomes Failed
    std::thread loaderThread_;
    Turnstile engineTurn_;
};

}  // namespace server
