// The program's own errors: a domain ("Wendaro"), a code, and the text the user sees.
#pragma once

#include <stdexcept>
#include <string>

class AppError : public std::runtime_error {
public:
    AppError(int code, const std::string& message, std::string domain = "Wendaro")
        : std::runtime_error(message), domain_(std::move(domain)), code_(code) {}
    const std::string& domain() const { return domain_; }
    int code() const { return code_; }

private:
    std::string domain_;
    int code_;
};
