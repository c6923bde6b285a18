// A reply body that is not the JSON record the caller expects: not JSON at all, a required key
// missing, or a value of the wrong type. Distinct from the service's own errors.
#pragma once

#include <stdexcept>
#include <string>

class DecodingError : public std::runtime_error {
public:
    explicit DecodingError(const std::string& message) : std::runtime_error(message) {}
};
