// An error of the account service, with its string code: the service's own codes verbatim
// ("INVALID_CREDENTIALS", "INSUFFICIENT_CREDITS", ...) or one of the client's: "network",
// "http_<status>", "no_session", "bad_url". what() is the text the user sees.
#pragma once

#include <stdexcept>
#include <string>

class BackendError : public std::runtime_error {
public:
    BackendError(std::string code, const std::string& message) : std::runtime_error(message), code_(std::move(code)) {}
    const std::string& code() const { return code_; }
    std::string message() const { return what(); }

    static BackendError network(const std::string& host) {
        return BackendError("network", "Server unreachable (" + (host.empty() ? std::string("?") : host) + ")");
    }
    static BackendError httpStatus(int status) {
        return BackendError("http_" + std::to_string(status), "Request failed (HTTP " + std::to_string(status) + ")");
    }
    static BackendError noSession() { return BackendError("no_session", "Not logged in"); }
    static BackendError badUrl() { return BackendError("bad_url", "Invalid checkout URL"); }

private:
    std::string code_;
};
