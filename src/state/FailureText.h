// What the diagnostic log says about a caught failure: its kind and the facts that explain it (a
// status, an error code, a host, the system's error text), never text that may echo what the
// user said or keeps. A provider's or the account service's error message can quote the request
// (a term, part of a key), so of those only the code is given.
#pragma once

#include <exception>
#include <string>

class FailureText {
public:
    FailureText() = delete;

    static std::string forLog(const std::exception& error);
    // "unknown failure" for an exception that is no std::exception, "" for none.
    static std::string forLog(std::exception_ptr error);
};
