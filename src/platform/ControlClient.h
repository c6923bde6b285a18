// The sending side of the key commands (`tovrin --ptt-down` …): finds the running program through
// its instance lock, sends one line and returns. Plain sockets, no application object: a
// compositor runs it on every key press.
#pragma once

#include "platform/ControlLine.h"
#include "platform/InstanceLock.h"

#include <string>

namespace platform {

class ControlClient {
public:
    // The process's exit status: 0 once the line is delivered; 1, with the reason on standard
    // error, when no copy of the program runs for this user or it cannot be reached.
    static int run(ControlCommand command, const std::string& lockPath = InstanceLock::defaultPath());

    // Sends `line` (a line end is added) to the socket at `socketPath`, which must belong to this
    // user. 0 once delivered; else the error number (EACCES: another user's socket).
    static int send(const std::string& socketPath, const std::string& line);
};

}  // namespace platform
