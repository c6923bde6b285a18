// The process's desktop runtime: the Qt application object, the real platform services
// installed for the rest of the program, and the run loop.
#pragma once

#include "platform/ControlLine.h"

#include <functional>
#include <memory>
#include <string>

class QLocalSocket;

namespace platform {

class Runtime {
public:
    Runtime(int& argc, char** argv);
    ~Runtime();

    // Called when the user opens the program again while it runs.
    std::function<void()> onReopen;
    // Called for each key command a later start of the program sends (`tovrin --ptt-down` …).
    std::function<void(ControlCommand)> onControl;
    // Called once when the run loop is about to end.
    std::function<void()> onTerminate;
    // Called when a termination signal (SIGTERM, SIGINT, SIGHUP) asks the program to end, before
    // anything ends: work in flight may finish first and then call `quit`. The run loop ends
    // `inFlightGrace` seconds after the signal regardless, or at once on a second signal.
    // Without it the run loop ends at once.
    std::function<void(std::function<void()> quit)> onTerminationRequested;
    static constexpr double inFlightGrace = 2.0;

    // True when the program already runs for this user (it holds the instance lock in the data
    // folder, whatever this copy's runtime folder): it has been told to come forward, or could
    // not be reached and this copy said so, and this process should end. Otherwise this process
    // takes the lock and becomes the one that is told.
    bool handOverToRunningInstance();

    // Runs `fn` once the run loop has started.
    void whenLaunched(std::function<void()> fn);
    // Runs the loop. When it has ended, child processes still running get SIGTERM (and SIGCONT,
    // should one be stopped) and, a moment later, SIGKILL.
    int exec();

private:
    void readControlLines(QLocalSocket* peer);
    // A second start asked for our windows (with its launcher's activation token, if any).
    void reopened(const std::string& token);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
