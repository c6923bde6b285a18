// The server process with the stand-in engine, for tests of the process's contract.
#include "FakeRecognizer.h"

#include "server/ServerProcess.h"

int main(int argc, char** argv) {
    server::ServerProcess::run(argc, argv, server::ServerOptions::engineDefaults(), "fake-speech-server",
                               [](const server::ServerOptions& o) { return servertest::FakeRecognizer::load(o.modelPath); });
}
