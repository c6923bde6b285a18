// The real main queue: the Qt event loop of the application thread.
#pragma once

#include "platform/Scheduler.h"

#include <chrono>

class QObject;

namespace platform {

class QtScheduler : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;
    void post(std::function<void()> fn) override;
    TimerHandle postAfter(double seconds, std::function<void()> fn) override;
    double now() const override;

private:
    QObject* context_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace platform
