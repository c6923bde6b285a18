// A stand-alone speech server on the fixed port 127.0.0.1:8756, run by hand.
#include "server/Log.h"
#include "server/ServerProcess.h"

#include <speech/Recognizer.h>

int main(int argc, char** argv) {
    // Which kernels run, and why, opens the log: timings mean little without it.
    try {
        server::Log::info("speech kernels: " + speech::kernelSetInUse());
    } catch (const speech::Error& e) {
        server::Log::error(e.what());
        return 2;
    }
    server::ServerProcess::run(argc, argv, server::ServerOptions::fixedPortDefaults(), "tovrin-speech-server",
                               [](const server::ServerOptions& o) {
                                   return speech::loadWhisperModel(o.modelPath, o.threads,
                                                                   {.temperatureFallback = o.temperatureFallback,
                                                                    .weights = o.q8Weights ? speech::WeightType::Q8
                                                                                           : speech::WeightType::F16});
                               });
}
