// A main queue with a hand-driven clock, for tests: nothing runs until the test says so.
#pragma once

#include "platform/Scheduler.h"

#include <mutex>
#include <vector>

namespace platform {

class FakeScheduler : public Scheduler {
public:
    void post(std::function<void()> fn) override;
    TimerHandle postAfter(double seconds, std::function<void()> fn) override;
    double now() const override;

    // Runs everything due at the current time (posts included, and what they post in turn).
    void runPending();
    // Moves the clock forward by `seconds`, running every call that falls due on the way, in order.
    void advance(double seconds);
    // Number of calls still waiting (cancelled ones excluded).
    std::size_t pendingCount() const;

private:
    struct Entry {
        double due;
        unsigned long seq;
        std::function<void()> fn;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    bool runOneDue(double limit);

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    double now_ = 0;
    unsigned long seq_ = 0;
};

}  // namespace platform
