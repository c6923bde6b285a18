// The process's desktop runtime: the Qt application object, the real platform services
// installed for the rest of the program, and the run loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class Runtime {
public:
    Runtime(int& argc, char** argv);
    ~Runtime();

    // Called when the user opens the program again while it runs.
    std::function<void()> onReopen;
    // Called once when the run loop is about to end.
    std::function<void()> onTerminate;

    // True when the program already runs for this user: it has been told to come forward and
    // this process should end. Otherwise this process becomes the one that is told.
    bool handOverToRunningInstance();

    // Runs `fn` once the run loop has started.
    void whenLaunched(std::function<void()> fn);
    int exec();

private:
    // A second start asked for our windows (with its launcher's activation token, if any).
    void reopened(const std::string& token);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
