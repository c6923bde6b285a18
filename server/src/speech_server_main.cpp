// The speech server over the on-device engine. Built twice: `whisper-server`, which the desktop
// program starts with its active model, and (TOVRIN_FIXED_PORT) `tovrin-speech-server`, a
// stand-alone server on the fixed port 127.0.0.1:8756, run by hand.
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
#ifdef TOVRIN_FIXED_PORT
    const auto defaults = server::ServerOptions::fixedPortDefaults();
    const char* name = "tovrin-speech-server";
#else
    const auto defaults = server::ServerOptions::engineDefaults();
    const char* name = "whisper-server";
#endif
    server::ServerProcess::run(argc, argv, defaults, name, [](const server::ServerOptions& o) {
        return speech::loadWhisperModel(o.modelPath, o.threads,
                                        {.temperatureFallback = o.temperatureFallback,
                                         .weights = o.q8Weights ? speech::WeightType::Q8 : speech::WeightType::F16});
    });
}
