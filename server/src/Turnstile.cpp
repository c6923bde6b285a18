#include "server/Turnstile.h"

namespace server {

void Turnstile::lock() {
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = nextTicket_++;
    turnChanged_.wait(lock, [&] { return serving_ == ticket; });
}

void Turnstile::unlock() {
    {
        std::lock_guard lock(mutex_);
        ++serving_;
    }
    turnChanged_.notify_all();
}

}  // namespace server
