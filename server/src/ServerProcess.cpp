#include "server/ServerProcess.h"

#include "server/Log.h"
#include "server/SpeechServer.h"
#include "server/StopSignal.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <malloc.h>
#include <thread>

namespace server {

void ServerProcess::run(int argc, char** argv, const ServerOptions& defaults, const std::string& name,
                        const ModelLoader& loader) {
    // Before any thread exists, so every thread inherits the signal set-up.
    StopSignal& stopSignal = StopSignal::install();
    // Request bodies and audio buffers of many megabytes come and go with every request. By
    // default glibc raises its mmap threshold after the first such buffer is freed, and every
    // later one is then carved from a heap arena, one per connection thread, that keeps the
    // pages: resident memory creeps up by tens of MB under load. A fixed threshold (which also
    // stops the adjustment) returns large buffers to the system as soon as they are freed, and
    // a few arenas keep the small ones from spreading over many heaps.
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    ::mallopt(M_ARENA_MAX, 4);

    ServerOptions options;
    try {
        options = ServerOptions::parse(argc, argv, defaults);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "%s: %s\n%s", name.c_str(), e.what(), ServerOptions::usage(name).c_str());
        std::exit(2);
    }

    // Never destroyed: the process ends with _Exit below while its threads may still use it.
    auto* server = new SpeechServer(options, [loader, options] { return loader(options); });
    int port = 0;
    try {
        port = server->bind();
    } catch (const std::exception& e) {
        Log::error(e.what());
        std::exit(1);
    }
    Log::info(name + " listening on " + options.host + ":" + std::to_string(port) + ", loading " +
              options.modelPath + " with " + std::to_string(options.threads) + " threads");

    server->startLoading([&stopSignal](bool loaded) {
        if (!loaded) stopSignal.post(StopSignal::Failed);
    });
    std::thread([server] { server->run(); }).detach();

    const StopSignal::Reason reason = stopSignal.wait();
    server->stop();
    if (reason == StopSignal::Failed) {
        Log::error("exiting: the model could not be loaded");
    } else {
        Log::info("stop requested; exiting");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    // The loader or a transcription may still be running: leave without waiting for them.
    std::_Exit(reason == StopSignal::Failed ? 1 : 0);
}

}  // namespace server
