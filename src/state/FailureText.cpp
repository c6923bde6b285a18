#include "state/FailureText.h"

#include "state/AppError.h"
#include "platform/Http.h"

#include <nlohmann/json.hpp>

#include <cxxabi.h>

#include <cstdlib>
#include <ios>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <typeinfo>

namespace {

std::string typeName(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     std::free);
    return status == 0 && demangled ? demangled.get() : mangled;
}

const char* kindName(platform::HttpError::Kind kind) {
    switch (kind) {
    case platform::HttpError::Kind::CannotConnect: return "cannot connect";
    case platform::HttpError::Kind::TimedOut: return "timed out";
    case platform::HttpError::Kind::Cancelled: return "cancelled";
    case platform::HttpError::Kind::BadUrl: return "bad URL";
    case platform::HttpError::Kind::Other: return "transfer failed";
    }
    return "transfer failed";
}

}  // namespace

std::string FailureText::forLog(const std::exception& error) {
    // The network layer's text names the host and what went wrong in the transfer.
    if (const auto* http = dynamic_cast<const platform::HttpError*>(&error))
        return std::string("HTTP ") + kindName(http->kind()) + " (" + (http->host().empty() ? "?" : http->host()) +
               "): " + http->what();
    // The message may be a provider's reply: the code and domain say which failure it was.
    if (const auto* app = dynamic_cast<const AppError*>(&error))
        return app->domain() + " error " + std::to_string(app->code());
    // The parser's text quotes the bytes it stopped at.
    if (const auto* json = dynamic_cast<const nlohmann::json::exception*>(&error))
        return "JSON error " + std::to_string(json->id);
    // The library's own texts, which name no input.
    if (dynamic_cast<const std::logic_error*>(&error) || dynamic_cast<const std::system_error*>(&error) ||
        dynamic_cast<const std::bad_alloc*>(&error) || dynamic_cast<const std::ios_base::failure*>(&error))
        return typeName(error) + ": " + error.what();
    // Anything else may carry another program's words: its kind only.
    return typeName(error);
}

std::string FailureText::forLog(std::exception_ptr error) {
    if (!error) return {};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return forLog(e);
    } catch (...) {
        // Nothing to read in it: the caller logs that a failure of no known kind happened.
        return "unknown failure";
    }
}
