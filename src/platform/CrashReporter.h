// Crash reports: a crash (fatal signal and the crashing thread's backtrace) is written to a file
// at once; on the next start it is sent as an event envelope to the configured DSN.
#pragma once

#include "platform/Task.h"

#include <string>

namespace platform {

struct CrashReporterOptions {
    std::string dsn;  // https://<32-hex public key>@<host>/<project>
    bool enableAutoSessionTracking = true;
    bool enableAutoPerformanceTracing = true;
    bool enableNetworkTracking = true;
    double tracesSampleRate = 1.0;
};

namespace CrashReporter {

// Installs the crash handlers and sends what an earlier run left behind (in the background).
void start(const CrashReporterOptions& options);

// The folder where crash records wait to be sent.
std::string pendingFolder();

// The envelope endpoint and auth header for a DSN; empty strings when the DSN does not parse.
struct Endpoint {
    std::string url;
    std::string authHeader;
};
Endpoint endpointFor(const std::string& dsn);

// Sends every waiting record; a record is removed once the server accepted it.
Task<int> sendPending(const CrashReporterOptions& options);

}  // namespace CrashReporter

}  // namespace platform
