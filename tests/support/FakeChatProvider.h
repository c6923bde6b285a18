// A loopback stand-in for a chat-completion endpoint (POST /v1/chat/completions and
// /openai/v1/chat/completions): records every request byte for byte and answers with the reply
// the test sets. Runs cpp-httplib on 127.0.0.1 in its own thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace test {

class FakeChatProvider {
public:
    struct Request {
        std::string method;
        std::string path;
        std::multimap<std::string, std::string> headers;  // names compared without case
        std::string body;
        std::string header(const std::string& name) const;
    };

    FakeChatProvider();
    ~FakeChatProvider();

    // The full URL of an endpoint path on this server, e.g. url("/v1/chat/completions").
    std::string url(const std::string& path) const;

    // Every later request gets this reply.
    void setReply(int status, const std::string& body);
    // A reply whose first choice's message content is `content`.
    void setContent(const std::string& content);

    std::vector<Request> requests() const;

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    int status_ = 200;
    std::string body_;
    std::vector<Request> log_;
};

}  // namespace test
