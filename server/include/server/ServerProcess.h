// The life of a speech server process: parse the command line, bind, load the model in the
// background, serve, and on SIGTERM/SIGINT close the listener and exit at once (a transcription
// in progress is abandoned; the port is free as soon as the process is gone).
#pragma once

#include "server/ServerOptions.h"

#include <speech/Recognizer.h>

#include <functional>
#include <memory>
#include <string>

namespace server {

class ServerProcess {
public:
    using ModelLoader = std::function<std::unique_ptr<speech::Recognizer>(const ServerOptions& options)>;

    // Does not return: exits with 0 after a stop signal, 1 when binding or loading fails,
    // 2 on a bad command line.
    [[noreturn]] static void run(int argc, char** argv, const ServerOptions& defaults, const std::string& name,
                                 const ModelLoader& loader);
};

}  // namespace server
