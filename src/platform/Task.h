// Coroutines for every wait. Task<T> is an eager coroutine (it runs until its first suspension
// when called); dropping the Task object leaves a running coroutine to finish on its own.
// Callers outside the platform layer include this header, never QCoro's.
#pragma once

#include "platform/Scheduler.h"

#include <QCoroTask>

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>

namespace platform {

template <typename T = void>
using Task = QCoro::Task<T>;

// Suspends for `seconds` on the given scheduler's clock and resumes on the main queue.
struct SleepAwaiter {
    double seconds;
    Scheduler* scheduler;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) const {
        scheduler->postAfter(seconds, [h] { h.resume(); });
    }
    void await_resume() const noexcept {}
};

inline SleepAwaiter sleepFor(double seconds, Scheduler& scheduler = Scheduler::main()) {
    return SleepAwaiter{seconds, &scheduler};
}

// Resumes the awaiting coroutine on the main queue (a hop from a worker thread).
struct MainHopAwaiter {
    Scheduler* scheduler;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) const {
        scheduler->post([h] { h.resume(); });
    }
    void await_resume() const noexcept {}
};

inline MainHopAwaiter resumeOnMain(Scheduler& scheduler = Scheduler::main()) { return MainHopAwaiter{&scheduler}; }

// A cooperative cancellation flag shared between an owner and its running tasks.
class CancelToken {
public:
    CancelToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
    void cancel() const { flag_->store(true); }
    bool isCancelled() const { return flag_->load(); }

private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

namespace detail {

template <typename T>
struct RaceState {
    bool done = false;
    std::optional<T> value;
    std::exception_ptr error;
    std::coroutine_handle<> waiter;

    void finish(std::optional<T> v, std::exception_ptr e = nullptr) {
        if (done) return;
        done = true;
        value = std::move(v);
        error = e;
        if (auto w = waiter) {
            waiter = {};
            w.resume();
        }
    }
};

template <typename T>
Task<> raceRunner(Task<T> task, std::shared_ptr<RaceState<T>> state) {
    try {
        T v = co_await std::move(task);
        state->finish(std::optional<T>(std::move(v)));
    } catch (...) {
        // Not logged here: the failure goes on to the awaiting caller, which logs it.
        state->finish(std::nullopt, std::current_exception());
    }
}

template <typename T>
struct RaceAwaiter {
    std::shared_ptr<RaceState<T>> state;
    bool await_ready() const noexcept { return state->done; }
    void await_suspend(std::coroutine_handle<> h) { state->waiter = h; }
    std::optional<T> await_resume() {
        if (state->error) std::rethrow_exception(state->error);
        return std::move(state->value);
    }
};

}  // namespace detail

// Races `task` against a timer: its value when it finishes within `seconds`, nullopt when the
// timer wins (the task then runs on and its result is dropped). An error of the task that
// finishes first is rethrown.
template <typename T>
Task<std::optional<T>> within(Task<T> task, double seconds, Scheduler& scheduler = Scheduler::main()) {
    auto state = std::make_shared<detail::RaceState<T>>();
    detail::raceRunner<T>(std::move(task), state);
    if (!state->done) {
        scheduler.postAfter(seconds, [state] { state->finish(std::nullopt); });
    }
    // A named awaiter: GCC 12 mishandles the lifetime of a temporary awaiter inside co_return.
    detail::RaceAwaiter<T> awaiter{state};
    std::optional<T> result = co_await awaiter;
    co_return result;
}

}  // namespace platform
