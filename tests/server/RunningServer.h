// A server executable started for a test, with its output in a log file; killed if the test
// leaves it running.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace servertest {

class RunningServer {
public:
    RunningServer(const std::string& executable, const std::vector<std::string>& args, const std::string& logPath);
    ~RunningServer();
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& logPath() const { return logPath_; }

    // Polls until the process accepts TCP connections on `port`; false if it exited or time ran out.
    bool waitListening(int port, std::chrono::milliseconds timeout);
    // Polls GET / until it answers 200.
    bool waitReady(int port, std::chrono::milliseconds timeout);
    // Waits for the process to end; its wait status, or nothing on time-out.
    std::optional<int> waitExit(std::chrono::milliseconds timeout);
    void signal(int sig);

    // A TCP port on 127.0.0.1 that was free a moment ago.
    static int freePort();
    // True when a listening socket can be bound to 127.0.0.1:port right now.
    static bool canBind(int port);

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::string logPath_;
};

}  // namespace servertest
