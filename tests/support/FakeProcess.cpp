#include "support/FakeProcess.h"

namespace test {

FakeProcess::~FakeProcess() {
    if (log_->current == this) log_->current = nullptr;
}

bool FakeProcess::launch(const platform::ProcessSpec& spec) {
    log_->launches.push_back(spec);
    if (log_->failLaunch) return false;
    launched_ = true;
    log_->current = this;
    return true;
}

void FakeProcess::terminate() {
    ++log_->terminations;
    exitWith(15);
}

void FakeProcess::exitWith(int status) {
    launched_ = false;
    if (log_->current == this) log_->current = nullptr;
    if (auto h = std::move(handler_)) {
        handler_ = nullptr;
        h(status);
    }
}

std::function<std::unique_ptr<platform::Process>()> FakeProcess::factory(std::shared_ptr<Log> log) {
    return [log] { return std::make_unique<FakeProcess>(log); };
}

}  // namespace test
