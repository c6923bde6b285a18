// Settings of a speech server process and their command line:
//   -m PATH  --host ADDR  --port N  --threads N  [--max-upload-mb N]  [--no-fallback]  [--weights f16|q8]
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace server {

class ServerOptions {
public:
    std::string modelPath;
    std::string host = "127.0.0.1";
    int port = 8791;
    int threads = 4;
    std::size_t maxUploadBytes = 100u * 1024 * 1024;
    double maxAudioSeconds = 3600;  // one hour of audio per request
    int httpWorkers = 64;             // connections open at once; more are refused with 503
    bool temperatureFallback = true;  // --no-fallback: greedy decoding only (measurements)
    bool q8Weights = false;           // --weights q8: 8-bit weight products (f16: as stored)

    // Defaults of the engine server (its port is always given by the program that starts it).
    static ServerOptions engineDefaults();
    // Defaults of the fixed-port server: 127.0.0.1:8756.
    static ServerOptions fixedPortDefaults();

    // Parses argv over `defaults`. Throws std::invalid_argument naming the bad argument.
    static ServerOptions parse(int argc, const char* const* argv, ServerOptions defaults);

    static std::string usage(const std::string& program);
};

}  // namespace server
