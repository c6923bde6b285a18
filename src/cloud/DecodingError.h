// A reply body that is not the JSON record the caller expects: not JSON at all, a required key
// missing, or a value of the wrong type. Distinct from the service's own errors. Its what() is
// the one sentence a user may see; the parser's own text is kept in detail() for the log.
#pragma once

#include <stdexcept>
#include <string>

class DecodingError : public std::runtime_error {
public:
    static constexpr const char* kUserMessage = "The service sent an unreadable reply.";
    explicit DecodingError(std::string detail) : std::runtime_error(kUserMessage), detail_(std::move(detail)) {}
    const std::string& detail() const { return detail_; }

private:
    std::string detail_;
};
