// Waiting for coroutines in tests: runs the Qt event loop (where network replies arrive) until
// a task finishes or a bounded time passes. The fake main-queue clock is not advanced here.
#pragma once

#include "platform/Task.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace test {

// Runs the event loop until `done()` holds or `seconds` pass; returns done().
inline bool pumpUntil(const std::function<bool()>& done, double seconds = 10) {
    if (done()) return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > seconds * 1000) loop.quit();
    });
    tick.start();
    loop.exec();
    return done();
}

// Runs the event loop for `seconds` (lets stray work settle).
inline void pumpFor(double seconds) {
    QElapsedTimer clock;
    clock.start();
    pumpUntil([&] { return clock.elapsed() >= seconds * 1000; }, seconds + 1);
}

template <typename T>
struct TaskOutcome {
    bool done = false;
    std::optional<T> value;
    std::exception_ptr error;
};
template <>
struct TaskOutcome<void> {
    bool done = false;
    std::exception_ptr error;
};

namespace detail {
template <typename T>
platform::Task<> collect(platform::Task<T> task, std::shared_ptr<TaskOutcome<T>> out) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
        } else {
            T value = co_await std::move(task);  // named first: GCC 12 and temporaries in co_await
            out->value.emplace(std::move(value));
        }
    } catch (...) {
        out->error = std::current_exception();
    }
    out->done = true;
}
}  // namespace detail

// Starts watching a running task; poll `->done` (e.g. with pumpUntil).
template <typename T>
std::shared_ptr<TaskOutcome<T>> watch(platform::Task<T> task) {
    auto out = std::make_shared<TaskOutcome<T>>();
    detail::collect<T>(std::move(task), out);
    return out;
}

// The task's value (its error rethrown); std::runtime_error when it does not finish in time.
template <typename T>
T await(platform::Task<T> task, double seconds = 10) {
    auto out = watch<T>(std::move(task));
    if (!pumpUntil([&] { return out->done; }, seconds)) throw std::runtime_error("task did not finish in time");
    if (out->error) std::rethrow_exception(out->error);
    if constexpr (!std::is_void_v<T>) return std::move(*out->value);
}

}  // namespace test
