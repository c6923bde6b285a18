// A request the server refuses: carries the HTTP status and a message for the JSON error reply.
#pragma once

#include <stdexcept>
#include <string>

namespace server {

class RequestError : public std::runtime_error {
public:
    RequestError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}

    int status() const { return status_; }

private:
    int status_;
};

}  // namespace server
