// The process's desktop runtime: the Qt application object, the real platform services
// installed for the rest of the program, and the run loop.
#pragma once

#include "platform/ControlLine.h"

#include <functional>
#include <memory>

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

    // True when the program already runs for this user (it holds the instance lock in the data
    // folder, whatever this copy's runtime folder): it has been told to come forward, or could
    // not be reached and this copy said so, and this process should end. Otherwise this process
    // takes the lock and becomes the one that is told.
    bool handOverToRunningInstance();

    // Runs `fn` once the run loop has started.
    void whenLaunched(std::function<void()> fn);
    int exec();

private:
    void readControlLines(QLocalSocket* peer);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
