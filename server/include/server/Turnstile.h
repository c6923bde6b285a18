// First-come, first-served exclusive access: callers get their turn in the order they arrived.
// Meets BasicLockable, so std::lock_guard<Turnstile> works.
//
// A server takes a place in line for each connection as it accepts it (one thread accepts, so
// the places follow arrival order whatever the scheduler does later). A caller whose thread holds
// a place waits, besides for the holder of the turn, for every earlier place that may still
// want the turn: one whose request is being read or handled, or whose socket has unread bytes.
// An earlier place that waits on its client for more bytes does not hold later ones up, so a
// slow client cannot stall the line. A caller without a place takes one when it asks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

namespace server {

class Turnstile {
public:
    using Place = std::uint64_t;

    // Takes the next place in line for the connection on `fd`.
    Place enter(int fd);
    // The place the calling thread acts for (0: none); lock() uses it.
    void actFor(Place place);
    // The calling thread's place is waiting on its client for more bytes, or no longer.
    static void awaitingClient(bool waiting);
    // The place will not ask for the turn again.
    void leave(Place place);

    void lock();
    void unlock();

private:
    struct Entry {
        int fd = -1;
        bool awaitingClient = false;
        bool waiting = false;  // inside lock()
    };
    bool earlierMayWant(Place place);
    void setAwaiting(Place place, bool waiting);

    std::mutex mutex_;
    std::condition_variable turnChanged_;
    std::uint64_t next_ = 1;
    bool busy_ = false;
    std::map<Place, Entry> line_;
};

}  // namespace server
