// A stand-alone speech server on the fixed port 127.0.0.1:8756, run by hand.
#include "server/ServerProcess.h"

#include <speech/Recognizer.h>

int main(int argc, char** argv) {
    server::ServerProcess::run(argc, argv, server::ServerOptions::fixedPortDefaults(), "tovrin-speech-server",
                               [](const server::ServerOptions& o) {
                                   return speech::loadWhisperModel(o.modelPath, o.threads,
                                                                   {.temperatureFallback = o.temperatureFallback});
                               });
}
