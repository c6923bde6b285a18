// A scriptable stand-in for the local speech servers on 127.0.0.1: GET "/" answers 503 until it
// is ready and 200 afterwards; POST "/inference" and "/transcribe" give the set reply; GET
// "/health" gives the set status. Every request is recorded byte for byte.
#pragma once

#include "support/LoopbackHttpServer.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace test {

class FakeSpeechServer {
public:
    explicit FakeSpeechServer(int port = 0);

    int port() const { return server_->port(); }
    std::string baseUrl() const { return server_->baseUrl(); }

    // GET "/" answers 503 to the first `probes` requests.
    void setNotReadyProbes(int probes);
    // GET "/" answers 503 until `seconds` of real time have passed from now.
    void setNotReadyFor(double seconds);
    void setReply(int status, std::string body);
    void setHealthStatus(int status);

    std::vector<RecordedRequest> requests() const { return server_->requests(); }
    std::vector<RecordedRequest> requestsTo(const std::string& method, const std::string& path) const;
    std::size_t readinessProbes() const { return server_->count("GET", "/"); }

private:
    CannedReply answer(const RecordedRequest& request);

    mutable std::mutex mutex_;
    int notReadyProbes_ = 0;
    int probesSeen_ = 0;
    std::chrono::steady_clock::time_point readyAt_{};
    int replyStatus_ = 200;
    std::string replyBody_ = R"({"text":" hello world ","language":"en"})";
    int healthStatus_ = 200;
    std::unique_ptr<LoopbackHttpServer> server_;
};

}  // namespace test
