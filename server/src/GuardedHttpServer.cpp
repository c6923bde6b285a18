#include "GuardedHttpServer.h"

#include "server/Log.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace server {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Waits until `fd` is ready for `events` or `deadline` passes; a socket already ready counts
// even when the deadline has passed. Hang-ups and errors count as ready: the next call reports them.
// While it waits, the connection's place in line holds no one up.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    pollfd now{fd, events, 0};
    if (::poll(&now, 1, 0) > 0) return true;
    Turnstile::awaitingClient(true);
    struct Resume {
        ~Resume() { Turnstile::awaitingClient(false); }
    } resume;
    for (;;) {
        const auto left = std::max<long long>(
            0, std::chrono::ceil<milliseconds>(deadline - Clock::now()).count());
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
        if (r == 0 && Clock::now() >= deadline) return false;
    }
}

// Reads once what is available by `deadline`: bytes read, 0 when the peer closed, -1 on an
// error or when time ran out.
ssize_t receive(int fd, char* buffer, std::size_t size, Clock::time_point deadline) {
    for (;;) {
        if (!waitFor(fd, POLLIN, deadline)) return -1;
        const ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        if (Clock::now() >= deadline) return -1;
    }
}

bool sendAll(int fd, std::string_view data, Clock::time_point deadline) {
    while (!data.empty()) {
        if (!waitFor(fd, POLLOUT, deadline)) return false;
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        } else if (Clock::now() >= deadline) {
            return false;
        }
    }
    return true;
}

// The connection as the library reads it: the bytes already read with the headers first, then
// the socket, every read bounded by the body's deadline.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, std::string pending, Clock::time_point readDeadline, milliseconds ioTimeout)
        : fd_(fd), pending_(std::move(pending)), readDeadline_(readDeadline), ioTimeout_(ioTimeout) {}

    bool is_readable() const override { return pos_ < pending_.size() || waitFor(fd_, POLLIN, readLimit()); }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, Clock::now() + ioTimeout_); }

    ssize_t read(char* ptr, std::size_t size) override {
        if (pos_ == pending_.size()) {
            pending_.resize(64 * 1024);
            const ssize_t n = receive(fd_, pending_.data(), pending_.size(), readLimit());
            pending_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            pos_ = 0;
            if (n <= 0) return n;
        }
        const std::size_t count = std::min(size, pending_.size() - pos_);
        std::copy_n(pending_.data() + pos_, count, ptr);
        pos_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, std::size_t size) override {
        const auto deadline = Clock::now() + ioTimeout_;
        for (;;) {
            if (!waitFor(fd_, POLLOUT, deadline)) return -1;
            const ssize_t n = ::send(fd_, ptr, size, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n >= 0) return n;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) describe(addr, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) describe(addr, ip, port);
    }
    socket_t socket() const override { return fd_; }

private:
    Clock::time_point readLimit() const { return std::min(readDeadline_, Clock::now() + ioTimeout_); }

    static void describe(const sockaddr_storage& addr, std::string& ip, int& port) {
        char text[INET6_ADDRSTRLEN] = "";
        if (addr.ss_family == AF_INET) {
            const auto& a = reinterpret_cast<const sockaddr_in&>(addr);
            ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
            port = ntohs(a.sin_port);
        } else if (addr.ss_family == AF_INET6) {
            const auto& a = reinterpret_cast<const sockaddr_in6&>(addr);
            ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
            port = ntohs(a.sin6_port);
        }
        ip = text;
    }

    int fd_;
    std::string pending_;
    std::size_t pos_ = 0;
    Clock::time_point readDeadline_;
    milliseconds ioTimeout_;
};

enum class Head { Complete, Closed, TimedOut, TooLarge };

// Reads until the blank line that ends the headers; `end` is the offset just past it. Bytes of
// the body read along with them stay in `buffer`.
Head readHead(int fd, std::string& buffer, std::size_t& end, std::size_t limit, Clock::time_point deadline) {
    char chunk[4096];
    for (;;) {
        const std::size_t from = buffer.size() > 3 ? buffer.size() - 3 : 0;
        const ssize_t n = receive(fd, chunk, sizeof chunk, deadline);
        if (n == 0) return Head::Closed;
        if (n < 0) return Clock::now() >= deadline ? Head::TimedOut : Head::Closed;
        buffer.append(chunk, static_cast<std::size_t>(n));
        const auto blank = buffer.find("\r\n\r\n", from);
        if (blank != std::string::npos && blank + 4 <= limit) {
            end = blank + 4;
            return Head::Complete;
        }
        if (buffer.size() > limit) return Head::TooLarge;
    }
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

struct BodyPlan {
    int status = 0;  // non-zero: answer at once with this status
    std::string message;
    std::size_t expectedBytes = 0;
};

// What the headers announce about the body: its length, or why the request is refused.
BodyPlan planBody(std::string_view head, std::size_t maxBody) {
    BodyPlan plan;
    std::optional<unsigned long long> length;
    bool chunked = false;
    std::size_t at = head.find("\r\n") + 2;  // past the request line
    while (at < head.size()) {
        const std::size_t eol = head.find("\r\n", at);
        const std::string_view line = head.substr(at, eol - at);
        at = eol + 2;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = trimmed(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (equalsIgnoringCase(name, "Transfer-Encoding")) {
            chunked = true;
        } else if (equalsIgnoringCase(name, "Content-Length")) {
            const bool digits = !value.empty() &&
                                std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digits) return {400, "invalid Content-Length \"" + std::string(value.substr(0, 40)) + "\"", 0};
            // More than 19 digits is beyond any upload limit (and beyond 64 bits).
            const unsigned long long n = value.size() <= 19 ? std::stoull(std::string(value)) : ULLONG_MAX;
            if (length && *length != n) return {400, "conflicting Content-Length headers", 0};
            length = n;
        }
    }
    if (length && *length > maxBody)
        return {413, "upload too large (limit " + std::to_string(maxBody / (1024 * 1024)) + " MB)", 0};
    plan.expectedBytes = chunked ? maxBody : static_cast<std::size_t>(length.value_or(0));
    return plan;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

void closeSocket(int fd) {
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

}  // namespace

GuardedHttpServer::GuardedHttpServer(Limits limits) : limits_(limits) {}

GuardedHttpServer::~GuardedHttpServer() {
    stopServing();
    std::unique_lock lock(mutex_);
    allEnded_.wait(lock, [this] { return open_ == 0; });
}

void GuardedHttpServer::serve() {
    serving_ = true;
    // The library listens with a backlog of 5; bursts of connections should wait in the kernel's
    // queue rather than retry their handshake a second later.
    if (const socket_t listener = svr_sock_.load(); listener != INVALID_SOCKET) ::listen(listener, 128);
    for (;;) {
        const socket_t listener = svr_sock_.load();
        if (listener == INVALID_SOCKET) break;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (svr_sock_.load() == INVALID_SOCKET) break;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                std::this_thread::sleep_for(milliseconds(10));  // out of descriptors: let some close
            } else if (errno == EBADF || errno == EINVAL || errno == ENOTSOCK) {
                break;
            }
            continue;
        }
        bool admitted = false;
        {
            std::lock_guard lock(mutex_);
            if (open_ < limits_.maxConnections) {
                ++open_;
                admitted = true;
            }
        }
        if (admitted) {
            // Places are taken here, by the one accepting thread, so they follow arrival order.
            const Turnstile::Place place = line_ ? line_->enter(fd) : 0;
            try {
                std::thread([this, fd, place] {
                    if (line_) line_->actFor(place);
                    serveConnection(fd);
                    if (line_) {
                        line_->leave(place);
                        line_->actFor(0);
                    }
                    connectionEnded();
                }).detach();
                continue;
            } catch (const std::system_error&) {
                if (line_) line_->leave(place);
                connectionEnded();
            }
        }
        // Refused without waiting on the client: the reply fits the socket's buffer.
        Log::info("refused a connection: " + std::to_string(limits_.maxConnections) + " already open");
        answerAndClose(fd, 503, "too many connections; try again shortly", false);
    }
    std::unique_lock lock(mutex_);
    allEnded_.wait(lock, [this] { return open_ == 0; });
    serving_ = false;
}

void GuardedHttpServer::stopServing() {
    const socket_t listener = svr_sock_.exchange(INVALID_SOCKET);
    if (listener != INVALID_SOCKET) closeSocket(listener);
}

void GuardedHttpServer::connectionEnded() {
    std::lock_guard lock(mutex_);
    if (--open_ == 0) allEnded_.notify_all();
}

void GuardedHttpServer::serveConnection(int fd) {
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

    std::string buffer;
    std::size_t headEnd = 0;
    switch (readHead(fd, buffer, headEnd, limits_.maxHeaderBytes, Clock::now() + limits_.headerDeadline)) {
    case Head::Complete: break;
    case Head::Closed: closeSocket(fd); return;
    case Head::TimedOut:
        Log::info("-> 408: the request headers did not arrive in time");
        answerAndClose(fd, 408, "the request headers did not arrive in time");
        return;
    case Head::TooLarge:
        if (buffer.find("\r\n") == std::string::npos) {
            Log::info("-> 414: request line too long");
            answerAndClose(fd, 414, "request line too long");
        } else {
            const std::string limit = std::to_string(limits_.maxHeaderBytes / 1024) + " KB";
            Log::info("-> 431: request headers over " + limit);
            answerAndClose(fd, 431, "request headers too large (limit " + limit + ")");
        }
        return;
    }

    const BodyPlan plan = planBody(std::string_view(buffer).substr(0, headEnd), limits_.maxBodyBytes);
    if (plan.status != 0) {
        Log::info("-> " + std::to_string(plan.status) + ": " + plan.message);
        answerAndClose(fd, plan.status, plan.message);
        return;
    }
    const auto bodyTime = milliseconds(plan.expectedBytes * 1000 / limits_.slowestBodyBytesPerSecond);
    ConnectionStream stream(fd, std::move(buffer), Clock::now() + limits_.bodyDeadlineBase + bodyTime,
                            limits_.ioTimeout);
    bool closed = true;
    process_request(stream, true, closed, nullptr);
    closeSocket(fd);
}

void GuardedHttpServer::answerAndClose(int fd, int status, const std::string& message, bool wait) {
    const std::string body =
        nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) +
                              "\r\nContent-Type: application/json\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    // Closing with unread input resets the connection, and a reset can destroy the reply before
    // the client reads it: read and discard what the client sends until it closes too.
    const auto until = Clock::now() + (wait ? milliseconds(2000) : milliseconds(0));
    sendAll(fd, reply, until);
    ::shutdown(fd, SHUT_WR);
    char sink[16 * 1024];
    while (receive(fd, sink, sizeof sink, until) > 0) {
    }
    ::close(fd);
}

}  // namespace server
