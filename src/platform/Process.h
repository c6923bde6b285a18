// A child process of the program: launched once with its output sent to a file, stopped with
// SIGTERM, and reporting how it ended. A child never outlives the program: it gets SIGTERM when
// the program ends, however it ends. Launch children from the main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct ProcessSpec {
    std::string executable;
    std::vector<std::string> arguments;
    // Standard output and standard error both go to this file (appended); "" = the null device.
    // The child inherits the program's environment unchanged.
    std::string outputPath;
};

class Process {
public:
    virtual ~Process() = default;

    // Starts the child; false when it could not be started.
    virtual bool launch(const ProcessSpec& spec) = 0;
    // Called once, on the main thread, when the child ends by itself: its exit code, or the
    // number of the signal that ended it. An empty handler removes the current one.
    virtual void setTerminationHandler(std::function<void(int status)> handler) = 0;
    // Sends SIGTERM. The child may outlive this object; it is reaped when it ends.
    virtual void terminate() = 0;
    // The child's process id, 0 when it is not running.
    virtual long pid() const = 0;

    // A real child process.
    static std::unique_ptr<Process> create();
};

}  // namespace platform
