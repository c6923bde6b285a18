// The main queue and its clock. Everything that waits (paste delays, hide timers, idle stops,
// polls) asks the installed scheduler, so tests can swap in a fake clock and run waits instantly.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace platform {

// Cancels a delayed call; cancelling after it ran, or twice, is harmless.
class TimerHandle {
public:
    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}
    void cancel() const { if (cancelled_) cancelled_->store(true); }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }
    bool isValid() const { return cancelled_ != nullptr; }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

class Scheduler {
public:
    virtual ~Scheduler() = default;

    // Runs `fn` on the main thread at the next turn of the loop. Safe from any thread.
    virtual void post(std::function<void()> fn) = 0;
    // Runs `fn` on the main thread `seconds` from now. Safe from any thread.
    virtual TimerHandle postAfter(double seconds, std::function<void()> fn) = 0;
    // Monotonic seconds.
    virtual double now() const = 0;

    // The scheduler of the main queue. A real one is installed at start-up; tests install a fake.
    static Scheduler& main();
    static void setMain(Scheduler* scheduler);
};

}  // namespace platform
