#include "support/LoopbackHttpServer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

namespace {

bool iequals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string reasonOf(int status) {
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool sendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [k, v] : headers)
        if (iequals(k, name)) return v;
    return {};
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler, int port) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 64) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() { stop(); }

void LoopbackHttpServer::stop() {
    if (stopping_.exchange(true)) return;
    if (acceptThread_.joinable()) acceptThread_.join();
    ::close(listenFd_);
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connections_);
    }
    for (auto& t : threads) t.join();
}

std::vector<RecordedRequest> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t LoopbackHttpServer::count(const std::string& method, const std::string& path) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(requests_.begin(), requests_.end(), [&](const RecordedRequest& r) {
        return r.method == method && r.path == path;
    }));
}

void LoopbackHttpServer::acceptLoop() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

void LoopbackHttpServer::serve(int fd) {
    std::string buffer;
    auto readMore = [&]() -> bool {
        while (!stopping_) {
            pollfd p{fd, POLLIN, 0};
            const int r = ::poll(&p, 1, 20);
            if (r < 0) return false;
            if (r == 0) continue;
            char chunk[65536];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        return false;
    };
    for (;;) {
        std::size_t headerEnd;
        while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos)
            if (!readMore()) {
                ::close(fd);
                return;
            }
        RecordedRequest req;
        const std::string head = buffer.substr(0, headerEnd);
        std::size_t lineEnd = head.find("\r\n");
        const std::string requestLine = head.substr(0, lineEnd);
        const auto sp1 = requestLine.find(' ');
        const auto sp2 = requestLine.find(' ', sp1 + 1);
        req.method = requestLine.substr(0, sp1);
        req.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
        const auto q = req.target.find('?');
        req.path = req.target.substr(0, q);
        if (q != std::string::npos) req.query = req.target.substr(q + 1);
        std::size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
        while (pos < head.size()) {
            std::size_t end = head.find("\r\n", pos);
            if (end == std::string::npos) end = head.size();
            const std::string line = head.substr(pos, end - pos);
            const auto colon = line.find(':');
            if (colon != std::string::npos) {
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                req.headers.emplace_back(line.substr(0, colon), value);
            }
            pos = end + 2;
        }
        std::size_t length = 0;
        if (const std::string cl = req.header("Content-Length"); !cl.empty()) length = std::stoul(cl);
        const std::size_t total = headerEnd + 4 + length;
        while (buffer.size() < total)
            if (!readMore()) {
                ::close(fd);
                return;
            }
        req.body = buffer.substr(headerEnd + 4, length);
        req.raw = buffer.substr(0, total);
        buffer.erase(0, total);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(req);
        }

        const CannedReply reply = handler_(req);
        if (reply.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
        auto holdUntilStopped = [&] {
            while (!stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(fd);
        };
        if (reply.silent) return holdUntilStopped();
        std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonOf(reply.status) + "\r\n";
        for (const auto& [k, v] : reply.headers) out += k + ": " + v + "\r\n";
        const bool keepAlive = reply.length == CannedReply::Length::Exact;
        if (reply.length == CannedReply::Length::Exact) out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        if (reply.length == CannedReply::Length::Announced) out += "Content-Length: " + std::to_string(reply.announced) + "\r\n";
        out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
        out += "\r\n";
        if (reply.stallAfter >= 0) {
            out += reply.body.substr(0, std::min(reply.body.size(), static_cast<std::size_t>(reply.stallAfter)));
            sendAll(fd, out);
            return holdUntilStopped();
        }
        out += reply.body;
        if (!sendAll(fd, out) || !keepAlive) {
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
            return;
        }
    }
}

}  // namespace test
