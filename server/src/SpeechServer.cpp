#include "server/SpeechServer.h"

#include "GuardedHttpServer.h"
#include "server/Log.h"
#include "server/MultipartForm.h"
#include "server/RequestError.h"
#include "server/WavDecoder.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>

namespace server {

namespace {

using json = nlohmann::json;

// cpp-httplib parses multipart and url-encoded bodies itself when it sees their Content-Type.
// Every request's Content-Type is moved to this header before routing, so the raw body reaches
// our own bounded parsers.
constexpr const char* kContentTypeHeader = "X-Tovrin-Content-Type";

std::string dumpJson(const json& j) {
    // Request data echoed back may hold invalid UTF-8: replace it instead of throwing.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

void setJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(dumpJson(body), "application/json");
}

void setError(httplib::Response& res, int status, const std::string& message) {
    setJson(res, status, json{{"error", message}});
}

// Runs a handler body, turning every failure into a JSON error reply.
template <typename Body>
void guarded(httplib::Response& res, Body&& body) {
    try {
        body();
    } catch (const RequestError& e) {
        setError(res, e.status(), e.what());
    } catch (const speech::Error& e) {
        Log::error(std::string("transcription failed: ") + e.what());
        setError(res, 500, std::string("transcription failed: ") + e.what());
    } catch (const std::bad_alloc&) {
        Log::error("out of memory while handling a request");
        setError(res, 507, "out of memory");
    } catch (const std::exception& e) {
        Log::error(std::string("internal error: ") + e.what());
        setError(res, 500, std::string("internal error: ") + e.what());
    }
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Not the program's Unicode trim (platform::TextTools::trimmed): the server uses nothing of the
// program's sources, and the form fields it trims (format, language) are ASCII words, where ASCII
// blanks are all there is to trim.
std::string trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return std::string(s);
}

std::string describe(const WavDecoder::Format& f) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d Hz, %d ch, %d-bit%s", f.sampleRate, f.channels, f.bitsPerSample,
                  f.isFloat ? " float" : "");
    return buf;
}

// Addresses only this machine can reach: 127.0.0.0/8, ::1 (also IPv4-mapped) and "localhost".
bool isLoopback(const std::string& host) {
    if (lowerAscii(host) == "localhost") return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return false;
}

}  // namespace

SpeechServer::SpeechServer(ServerOptions options, Loader loader) : options_(std::move(options)), loader_(std::move(loader)) {
    GuardedHttpServer::Limits limits;
    limits.maxConnections = options_.httpWorkers;
    limits.maxBodyBytes = options_.maxUploadBytes;
    http_ = std::make_unique<GuardedHttpServer>(limits);
    http_->setArrivalLine(&engineTurn_);
    // Only SO_REUSEADDR: the library's default SO_REUSEPORT would let a second server share a
    // port that a stale one still listens on.
    http_->set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http_->set_payload_max_length(options_.maxUploadBytes);
    installRoutes();
}

SpeechServer::~SpeechServer() {
    stop();
    http_.reset();  // waits for the connections still open: their handlers use this object
    if (loaderThread_.joinable()) loaderThread_.join();
}

int SpeechServer::bind() {
    if (!isLoopback(options_.host))
        Log::warning("listening on " + options_.host +
                   ", which is not a loopback address: other machines may reach this server");
    int port = options_.port;
    bool ok;
    if (port == 0) {
        port = http_->bind_to_any_port(options_.host);
        ok = port > 0;
    } else {
        ok = http_->bind_to_port(options_.host, port);
    }
    if (!ok) {
        throw std::runtime_error("cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                                 " (address in use or not available)");
    }
    return port;
}

void SpeechServer::startLoading(std::function<void(bool)> done) {
    loaderThread_ = std::thread([this, done = std::move(done)] {
        const auto start = std::chrono::steady_clock::now();
        try {
            recognizer_ = loader_();
            if (!recognizer_) throw speech::Error("the model loader returned nothing");
            state_.store(State::Ready, std::memory_order_release);
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start).count();
            Log::info("model loaded in " + std::to_string(ms) + " ms; ready");
        } catch (const std::exception& e) {
            loadError_ = std::string("model failed to load: ") + e.what();
            state_.store(State::Failed, std::memory_order_release);
            Log::error(loadError_);
        }
        if (done) done(state() == State::Ready);
    });
}

void SpeechServer::run() { http_->serve(); }

void SpeechServer::stop() { http_->stopServing(); }

bool SpeechServer::listening() const { return http_->serving(); }

void SpeechServer::installRoutes() {
    http_->set_pre_routing_handler([](const httplib::Request& constReq, httplib::Response&) {
        // The request object is the library's own mutable one; only its headers are touched.
        auto& req = const_cast<httplib::Request&>(constReq);
        req.headers.erase(kContentTypeHeader);
        const auto it = req.headers.find("Content-Type");
        if (it != req.headers.end()) {
            std::string value = it->second;
            req.headers.erase("Content-Type");
            req.headers.emplace(kContentTypeHeader, std::move(value));
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    http_->Get("/", [this](const httplib::Request&, httplib::Response& res) { answerReadiness(res); });
    http_->Get("/health", [this](const httplib::Request&, httplib::Response& res) { answerReadiness(res); });
    // Bodies are read through a content reader so chunked uploads are bounded too (the library
    // checks its size limit only against Content-Length).
    http_->Post("/inference",
                [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                    guarded(res, [&] { handleInference(req, readBody(reader, res), res); });
                });
    http_->Post("/transcribe",
                [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                    guarded(res, [&] { handleTranscribe(req, readBody(reader, res), res); });
                });

    const std::size_t limitMb = options_.maxUploadBytes / (1024 * 1024);
    http_->set_error_handler([limitMb](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;  // a handler already wrote its own error
        switch (res.status) {
        case 400: setError(res, 400, "malformed request"); break;
        case 404: setError(res, 404, "not found"); break;
        case 413: setError(res, 413, "upload too large (limit " + std::to_string(limitMb) + " MB)"); break;
        default: setError(res, res.status, "HTTP error " + std::to_string(res.status)); break;
        }
    });
    http_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        setError(res, 500, "internal error");
    });
    http_->set_logger([](const httplib::Request& req, const httplib::Response& res) {
        if (req.method == "GET" && res.status == 503) return;  // readiness polling while loading
        Log::info(req.method + " " + req.path + " -> " + std::to_string(res.status));
    });
}

void SpeechServer::answerReadiness(httplib::Response& res) const {
    switch (state()) {
    case State::Ready: setJson(res, 200, json{{"status", "ready"}}); break;
    case State::Loading: setJson(res, 503, json{{"status", "loading"}}); break;
    case State::Failed: setJson(res, 503, json{{"status", "failed"}, {"error", loadError_}}); break;
    }
}

speech::Recognizer& SpeechServer::readyRecognizer() const {
    switch (state()) {
    case State::Ready: return *recognizer_;
    case State::Loading: throw RequestError(503, "the model is still loading");
    case State::Failed: throw RequestError(503, loadError_);
    }
    throw RequestError(503, "not ready");
}

std::string SpeechServer::readBody(const httplib::ContentReader& reader, httplib::Response& res) const {
    readyRecognizer();  // a loading server answers 503 before reading the body
    const std::size_t limit = options_.maxUploadBytes;
    std::string body;
    bool tooLarge = false;
    const bool complete = reader([&](const char* data, std::size_t length) {
        if (body.size() + length > limit) {
            tooLarge = true;
            return false;
        }
        body.append(data, length);
        return true;
    });
    if (tooLarge || res.status == 413)
        throw RequestError(413, "upload too large (limit " + std::to_string(limit / (1024 * 1024)) + " MB)");
    if (!complete) throw RequestError(400, "the request body could not be read completely");
    return body;
}

void SpeechServer::handleInference(const httplib::Request& req, const std::string& body, httplib::Response& res) {
    std::string boundary;
    try {
        boundary = MultipartForm::boundaryOf(req.get_header_value(kContentTypeHeader));
    } catch (const MultipartForm::Error& e) {
        throw RequestError(400, e.what());
    }
    MultipartForm form;
    try {
        form = MultipartForm::parse(body, boundary);
    } catch (const MultipartForm::Error& e) {
        throw RequestError(400, e.what());
    }
    const MultipartForm::Part* file = form.find("file");
    if (!file) throw RequestError(400, "the form has no \"file\" part");
    if (const auto* format = form.find("response_format")) {
        const std::string value = lowerAscii(trimmed(format->data));
        if (!value.empty() && value != "json")
            throw RequestError(400, "unsupported response_format \"" + std::string(format->data) + "\" (only json)");
    }
    const auto* language = form.find("language");
    res.set_content(transcribe(file->data, language ? std::string(language->data) : std::string(), "/inference"),
                    "application/json");
}

void SpeechServer::handleTranscribe(const httplib::Request& req, const std::string& body, httplib::Response& res) {
    res.set_content(transcribe(body, req.get_param_value("lang"), "/transcribe"), "application/json");
}

std::string SpeechServer::transcribe(std::string_view wav, const std::string& languageField, const char* route) {
    speech::Recognizer& recognizer = readyRecognizer();

    std::string language = lowerAscii(trimmed(languageField));
    if (language.empty()) language = "auto";
    if (language != "auto" && !recognizer.supportsLanguage(language))
        throw RequestError(400, "unsupported language \"" + trimmed(languageField) + "\"");

    WavDecoder::Audio audio;
    try {
        audio = WavDecoder::decode(wav, options_.maxAudioSeconds);
    } catch (const WavDecoder::Error& e) {
        throw RequestError(e.kind() == WavDecoder::Error::Kind::TooLong ? 413 : 400, e.what());
    }

    json reply;
    const double seconds = static_cast<double>(audio.samples.size()) / WavDecoder::kOutputRate;
    if (audio.samples.empty()) {
        reply["text"] = "";  // nothing to hear
    } else {
        const auto queued = std::chrono::steady_clock::now();
        std::lock_guard turn(engineTurn_);
        const auto start = std::chrono::steady_clock::now();
        const speech::Transcript t = recognizer.transcribe(audio.samples.data(), audio.samples.size(), language);
        const auto end = std::chrono::steady_clock::now();
        auto ms = [](auto d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
        char line[256];
        std::snprintf(line, sizeof line, "%s: %.2f s of audio (%s), language %s -> %s, %lld ms (waited %lld ms)",
                      route, seconds, describe(audio.source).c_str(), language.c_str(),
                      t.language.empty() ? "?" : t.language.c_str(), static_cast<long long>(ms(end - start)),
                      static_cast<long long>(ms(start - queued)));
        Log::info(line);
        reply["text"] = t.text;
        if (!t.language.empty()) reply["language"] = t.language;
    }
    if (!reply.contains("language") && language != "auto") reply["language"] = language;
    return dumpJson(reply);
}

}  // namespace server
