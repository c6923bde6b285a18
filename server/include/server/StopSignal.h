// Wakes one waiting thread when the process is asked to stop: SIGTERM and SIGINT are turned into
// a byte on a pipe by an async-signal-safe handler, and other threads may post a reason the same way.
#pragma once

namespace server {

class StopSignal {
public:
    enum Reason : char { Terminated = 'T', Failed = 'F' };

    // Creates the pipe and installs the handlers (once per process); ignores SIGPIPE.
    static StopSignal& install();

    // Safe from any thread and from a signal handler.
    void post(Reason reason);

    // Blocks until a reason is posted.
    Reason wait();

private:
    StopSignal();
};

}  // namespace server
