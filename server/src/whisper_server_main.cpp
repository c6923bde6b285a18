// The engine server the desktop program starts with its active model.
#include "server/ServerProcess.h"

#include <speech/Recognizer.h>

int main(int argc, char** argv) {
    server::ServerProcess::run(argc, argv, server::ServerOptions::engineDefaults(), "whisper-server",
                               [](const server::ServerOptions& o) {
                                   return speech::loadWhisperModel(o.modelPath, o.threads,
                                                                   {.temperatureFallback = o.temperatureFallback});
                               });
}
