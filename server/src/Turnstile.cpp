#include "server/Turnstile.h"

#include <chrono>
#include <poll.h>

namespace server {

namespace {

struct Acting {
    Turnstile* turnstile = nullptr;
    Turnstile::Place place = 0;
};
thread_local Acting acting;

bool hasUnreadBytes(int fd) {
    pollfd p{fd, POLLIN, 0};
    return fd >= 0 && ::poll(&p, 1, 0) > 0;
}

}  // namespace

Turnstile::Place Turnstile::enter(int fd) {
    std::lock_guard lock(mutex_);
    const Place place = next_++;
    line_[place] = Entry{fd};
    return place;
}

void Turnstile::actFor(Place place) { acting = {place ? this : nullptr, place}; }

void Turnstile::awaitingClient(bool waiting) {
    if (acting.turnstile && acting.place) acting.turnstile->setAwaiting(acting.place, waiting);
}

void Turnstile::setAwaiting(Place place, bool waiting) {
    {
        std::lock_guard lock(mutex_);
        const auto it = line_.find(place);
        if (it == line_.end() || it->second.awaitingClient == waiting) return;
        it->second.awaitingClient = waiting;
    }
    if (waiting) turnChanged_.notify_all();
}

void Turnstile::leave(Place place) {
    {
        std::lock_guard lock(mutex_);
        line_.erase(place);
    }
    turnChanged_.notify_all();
}

bool Turnstile::earlierMayWant(Place place) {
    for (auto it = line_.begin(); it != line_.end() && it->first < place; ++it) {
        const Entry& e = it->second;
        if (e.waiting || !e.awaitingClient || hasUnreadBytes(e.fd)) return true;
    }
    return false;
}

void Turnstile::lock() {
    std::unique_lock lock(mutex_);
    Place place = 0;
    if (acting.place && line_.count(acting.place)) {
        place = acting.place;
    } else {
        place = next_++;
        line_[place] = Entry{};
    }
    line_[place].waiting = true;
    // An earlier place known only by unread bytes on its socket announces no change when its
    // thread gets to them, so look again now and then.
    while (busy_ || earlierMayWant(place)) turnChanged_.wait_for(lock, std::chrono::milliseconds(20));
    busy_ = true;
    line_.erase(place);
}

void Turnstile::unlock() {
    {
        std::lock_guard lock(mutex_);
        busy_ = false;
    }
    turnChanged_.notify_all();
}

}  // namespace server
