// First-come, first-served exclusive access: callers get their turn in the order they asked.
// Meets BasicLockable, so std::lock_guard<Turnstile> works.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace server {

class Turnstile {
public:
    void lock();
    void unlock();

private:
    std::mutex mutex_;
    std::condition_variable turnChanged_;
    std::uint64_t nextTicket_ = 0;
    std::uint64_t serving_ = 0;
};

}  // namespace server
