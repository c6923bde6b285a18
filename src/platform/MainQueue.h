// Shorthands for the main queue of the installed scheduler.
#pragma once

#include "platform/Scheduler.h"

namespace platform::MainQueue {

inline void post(std::function<void()> fn) { Scheduler::main().post(std::move(fn)); }
inline TimerHandle after(double seconds, std::function<void()> fn) {
    return Scheduler::main().postAfter(seconds, std::move(fn));
}
inline double now() { return Scheduler::main().now(); }

}  // namespace platform::MainQueue
