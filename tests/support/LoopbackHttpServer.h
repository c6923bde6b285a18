// A small HTTP/1.1 server on 127.0.0.1 for tests: every request is recorded byte for byte and
// answered by a handler, which can also send a broken reply (no length, a wrong length).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test {

struct RecordedRequest {
    std::string method;
    std::string target;  // as on the request line: path and query
    std::string path;
    std::string query;  // without "?"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string raw;  // the request exactly as received: line, headers and body

    std::string header(const std::string& name) const;  // "" when absent (case-insensitive)
};

struct CannedReply {
    enum class Length {
        Exact,     // Content-Length = body size
        None,      // no Content-Length; the connection closes after the body
        Announced  // Content-Length = announced; the body is sent as it is, then the connection closes
    };
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Length
    Length length = Length::Exact;
    std::size_t announced = 0;
    int delayMs = 0;  // wait before answering
    bool silent = false;  // never answer: the connection stays open until the server stops
    // Send the head and only this many bytes of the body, then nothing more until the server
    // stops (a transfer that stalls mid-body). -1: the whole reply.
    long stallAfter = -1;
};

class LoopbackHttpServer {
public:
    using Handler = std::function<CannedReply(const RecordedRequest&)>;

    // Listens on 127.0.0.1:port (0: a free port). Throws std::runtime_error when it cannot.
    explicit LoopbackHttpServer(Handler handler, int port = 0);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int port() const { return port_; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

    std::vector<RecordedRequest> requests() const;
    std::size_t count(const std::string& method, const std::string& path) const;

    // Stops listening and closes every connection (also done by the destructor).
    void stop();

private:
    void acceptLoop();
    void serve(int fd);

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace test
