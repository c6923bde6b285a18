// An error of the account service, with its string code.
#pragma once

#include <stdexcept>
#include <string>

class BackendError : public std::runtime_error {
public:
    BackendError(std::string code, const std::string& message) : std::runtime_error(message), code_(std::move(code)) {}
    const std::string& code() const { return code_; }
    std::string message() const { return what(); }

private:
    std::string code_;
};
