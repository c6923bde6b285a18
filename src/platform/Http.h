// HTTP for the clients of the program (the local speech server, the cloud providers, the
// account service, the model host). One Http object is one session: no cache, no cookies, a
// default time-out that a request may override. Every call is a coroutine resumed on the main
// thread, from the event loop (never from inside the transport's own callbacks), so the caller
// may drop the session as soon as a call returns. Dropping the session while calls are out ends
// them with HttpError Cancelled.
#pragma once

#include "platform/Task.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace platform {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    HttpHeaders headers;  // sent in this order
    std::string body;
    double timeout = 0;  // seconds without progress before giving up; 0 = the session's
};

struct HttpResponse {
    int status = 0;  // the HTTP status code
    HttpHeaders headers;
    std::string body;  // empty for downloads (the body went to the file)

    // The first header of that name (case-insensitive), "" when absent.
    std::string header(const std::string& name) const;
};

// A transfer that produced no HTTP reply: no connection, time-out, a broken transfer,
// a cancelled request. The message is the transport's own text.
class HttpError : public std::runtime_error {
public:
    enum class Kind { CannotConnect, TimedOut, Cancelled, BadUrl, Other };
    HttpError(Kind kind, std::string host, const std::string& message)
        : std::runtime_error(message), kind_(kind), host_(std::move(host)) {}
    Kind kind() const { return kind_; }
    const std::string& host() const { return host_; }

private:
    Kind kind_;
    std::string host_;
};

class Http {
public:
    using Progress = std::function<void(std::int64_t received, std::int64_t total)>;  // total -1: unknown

    virtual ~Http() = default;

    // Sends the request; returns any HTTP reply (whatever its status). Throws HttpError.
    virtual Task<HttpResponse> send(HttpRequest request) = 0;

    // Streams the reply body into `destinationPath` (created or truncated), reporting progress.
    // Returns the reply with an empty body. Throws HttpError; a failed transfer may leave a
    // partial file behind, which the caller removes.
    virtual Task<HttpResponse> download(HttpRequest request, std::string destinationPath, Progress progress) = 0;

    // A real session (Qt network stack) with the given default time-out in seconds.
    static std::unique_ptr<Http> create(double sessionTimeout);

    // Every request of every session gives up after at most `seconds` without progress (0: no
    // limit, the default). Tests shorten the waits with it.
    static void setTimeoutLimit(double seconds);
};

// Helpers for the clients' request bodies.
namespace http {
// Percent-encodes every byte outside the unreserved set (A–Z a–z 0–9 - . _ ~) and `alsoAllowed`.
std::string percentEncode(const std::string& text, const std::string& alsoAllowed = {});
// The host part of a URL ("" when it has none).
std::string hostOf(const std::string& url);
// A random UUID string in upper-case canonical form.
std::string makeUuid();
}  // namespace http

}  // namespace platform
