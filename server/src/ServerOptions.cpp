#include "server/ServerOptions.h"

#include <algorithm>
#include <charconv>
#include <thread>

namespace server {

namespace {

long long parseNumber(const std::string& flag, const std::string& text, long long min, long long max) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < min || value > max) {
        throw std::invalid_argument("invalid value for " + flag + ": \"" + text + "\" (expected " +
                                    std::to_string(min) + " to " + std::to_string(max) + ")");
    }
    return value;
}

}  // namespace

ServerOptions ServerOptions::engineDefaults() {
    ServerOptions o;
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    o.threads = std::max(4, cores - 2);
    return o;
}

ServerOptions ServerOptions::fixedPortDefaults() {
    ServerOptions o = engineDefaults();
    o.port = 8756;
    return o;
}

ServerOptions ServerOptions::parse(int argc, const char* const* argv, ServerOptions o) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument("missing value after " + flag);
            return argv[++i];
        };
        if (flag == "-m" || flag == "--model") {
            o.modelPath = value();
        } else if (flag == "--host") {
            o.host = value();
        } else if (flag == "--port") {
            o.port = static_cast<int>(parseNumber(flag, value(), 0, 65535));
        } else if (flag == "-t" || flag == "--threads") {
            o.threads = static_cast<int>(parseNumber(flag, value(), 1, 256));
        } else if (flag == "--max-upload-mb") {
            o.maxUploadBytes = static_cast<std::size_t>(parseNumber(flag, value(), 1, 4096)) * 1024 * 1024;
        } else if (flag == "--no-fallback") {
            o.temperatureFallback = false;
        } else if (flag == "--weights") {
            const std::string w = value();
            if (w != "f16" && w != "q8")
                throw std::invalid_argument("invalid value for --weights: \"" + w + "\" (expected f16 or q8)");
            o.q8Weights = w == "q8";
        } else {
            throw std::invalid_argument("unknown argument: " + flag);
        }
    }
    if (o.modelPath.empty()) throw std::invalid_argument("no model given (-m PATH)");
    if (o.host.empty()) throw std::invalid_argument("empty --host");
    return o;
}

std::string ServerOptions::usage(const std::string& program) {
    return "usage: " + program +
           " -m MODEL [--host ADDR] [--port N] [--threads N] [--max-upload-mb N] [--no-fallback]\n"
           "    [--weights f16|q8]\n";
}

}  // namespace server
