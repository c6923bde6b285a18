#include "support/FakeSpeechServer.h"

namespace test {

FakeSpeechServer::FakeSpeechServer(int port)
    : server_(std::make_unique<LoopbackHttpServer>([this](const RecordedRequest& r) { return answer(r); }, port)) {}

void FakeSpeechServer::setNotReadyProbes(int probes) {
    std::lock_guard lock(mutex_);
    notReadyProbes_ = probes;
    probesSeen_ = 0;
}

void FakeSpeechServer::setNotReadyFor(double seconds) {
    std::lock_guard lock(mutex_);
    readyAt_ = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

void FakeSpeechServer::setReply(int status, std::string body) {
    std::lock_guard lock(mutex_);
    replyStatus_ = status;
    replyBody_ = std::move(body);
}

void FakeSpeechServer::setHealthStatus(int status) {
    std::lock_guard lock(mutex_);
    healthStatus_ = status;
}

std::vector<RecordedRequest> FakeSpeechServer::requestsTo(const std::string& method, const std::string& path) const {
    std::vector<RecordedRequest> out;
    for (auto& r : server_->requests())
        if (r.method == method && r.path == path) out.push_back(r);
    return out;
}

CannedReply FakeSpeechServer::answer(const RecordedRequest& request) {
    std::lock_guard lock(mutex_);
    CannedReply reply;
    reply.headers = {{"Content-Type", "application/json"}};
    if (request.method == "GET" && request.path == "/") {
        const bool early = probesSeen_++ < notReadyProbes_ || std::chrono::steady_clock::now() < readyAt_;
        reply.status = early ? 503 : 200;
        reply.body = early ? R"({"status":"loading model"})" : R"({"status":"ok"})";
    } else if (request.method == "GET" && request.path == "/health") {
        reply.status = healthStatus_;
        reply.body = "{}";
    } else if (request.method == "POST" && (request.path == "/inference" || request.path == "/transcribe")) {
        reply.status = replyStatus_;
        reply.body = replyBody_;
    } else {
        reply.status = 404;
        reply.body = "{}";
    }
    return reply;
}

}  // namespace test
