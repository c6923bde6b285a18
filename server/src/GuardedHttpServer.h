// cpp-httplib's routing behind an accept loop of our own, so a few slow or hostile clients
// cannot block the server. Each connection gets its own thread, up to a bound; further ones are
// answered 503 at once. A connection must deliver its request line and headers within a short
// overall deadline and its body within a deadline scaled to its announced size. Late,
// malformed or oversized requests are answered at once (408, 400, 413, 414, 431) before any body
// is read. Requests that pass go to the library's routing, one request per connection.
#pragma once

#include "server/Turnstile.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

namespace server {

class GuardedHttpServer : public httplib::Server {
public:
    struct Limits {
        int maxConnections = 64;
        std::chrono::milliseconds headerDeadline{5000};
        std::size_t maxHeaderBytes = 8192;  // request line and headers together
        std::size_t maxBodyBytes = 100u * 1024 * 1024;
        // A body must arrive within base + size / rate; a chunked one is given the time of the
        // largest body allowed.
        std::chrono::milliseconds bodyDeadlineBase{10000};
        std::size_t slowestBodyBytesPerSecond = 2u * 1024 * 1024;
        std::chrono::milliseconds ioTimeout{10000};  // longest silence within a body or a reply
    };

    explicit GuardedHttpServer(Limits limits);
    ~GuardedHttpServer() override;

    // Accepts connections on the socket made by bind_to_port() or bind_to_any_port() until
    // stopServing(); returns once every open connection has ended.
    void serve();
    void stopServing();
    bool serving() const { return serving_.load(); }
    // Each accepted connection takes its place in `line` in accept order; set before serve().
    void setArrivalLine(Turnstile* line) { line_ = line; }

private:
    void serveConnection(int fd);
    void connectionEnded();
    // Writes a JSON error reply and closes once the client has read it. Without `wait` (the
    // accept loop) nothing blocks: what fits the socket now is sent, what has arrived is discarded.
    static void answerAndClose(int fd, int status, const std::string& message, bool wait = true);

    Limits limits_;
    Turnstile* line_ = nullptr;
    std::atomic<bool> serving_{false};
    std::mutex mutex_;
    std::condition_variable allEnded_;
    int open_ = 0;
};

}  // namespace server
