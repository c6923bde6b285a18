// A child process that never runs: launches, terminations and the handler are recorded in a
// shared log, and a test makes the "child" end with a status of its choice.
#pragma once

#include "platform/Process.h"

#include <memory>
#include <vector>

namespace test {

class FakeProcess : public platform::Process {
public:
    struct Log {
        std::vector<platform::ProcessSpec> launches;
        int terminations = 0;
        bool failLaunch = false;
        FakeProcess* current = nullptr;  // the live child, if any
    };

    explicit FakeProcess(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    ~FakeProcess() override;

    bool launch(const platform::ProcessSpec& spec) override;
    void setTerminationHandler(std::function<void(int status)> handler) override { handler_ = std::move(handler); }
    // Like SIGTERM on a real child: it ends with status 15, reported to a handler still set.
    void terminate() override;
    long pid() const override { return launched_ ? 424242 : 0; }

    // The child ends by itself.
    void exitWith(int status);

    static std::function<std::unique_ptr<platform::Process>()> factory(std::shared_ptr<Log> log);

private:
    std::shared_ptr<Log> log_;
    std::function<void(int)> handler_;
    bool launched_ = false;
};

}  // namespace test
