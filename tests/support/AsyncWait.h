// Driving coroutines that sleep on the fake clock: Qt events (replies of loopback servers) and
// the fake main queue are run, and the fake clock moved on while a coroutine sleeps, until the
// task ends or a real-time limit passes. (TaskWait.h waits without touching the fake clock.)
#pragma once

#include "platform/Task.h"
#include "support/TaskWait.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace test {

// Runs Qt events and due fake-clock calls until `done()` or `realSeconds` of real time. With
// `fakeStep` > 0 the fake clock moves on by that much whenever a timer waits; with 0 it stands
// still. True when done.
bool driveUntil(const std::function<bool()>& done, double realSeconds = 10, double fakeStep = 0);

template <typename T>
using DriveOutcome = TaskOutcome<T>;

// Starts watching a task; the outcome fills in when it ends.
template <typename T>
std::shared_ptr<DriveOutcome<T>> startTask(platform::Task<T> task) {
    return watch<T>(std::move(task));
}

// Drives a task to its end; its value, or its error rethrown. Throws std::runtime_error when it
// does not end within `realSeconds`.
template <typename T>
T driveTask(platform::Task<T> task, double fakeStep = 0, double realSeconds = 20) {
    auto out = startTask<T>(std::move(task));
    if (!driveUntil([&] { return out->done; }, realSeconds, fakeStep)) throw std::runtime_error("task did not finish");
    if (out->error) std::rethrow_exception(out->error);
    if constexpr (!std::is_void_v<T>) return std::move(*out->value);
}

}  // namespace test
