// One client connection to the PulseAudio server with its own event thread. Every libpulse call
// is made with the thread's lock held (PulseConnection::Lock); every wait is bounded, so a stuck
// or missing server never holds the caller for long. A connection that broke is replaced by a
// fresh one on the next use.
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <string>

namespace platform {

class PulseConnection {
public:
    // `threadName` names the event thread (at most 15 characters show).
    explicit PulseConnection(std::string clientName, const std::string& threadName = {});
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Holds the event thread's lock (recursive) for its lifetime.
    class Lock {
    public:
        explicit Lock(PulseConnection& c);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        PulseConnection& c_;
    };

    // The following need the lock.

    // The connected context, connecting first when needed and waiting at most `timeoutSeconds`;
    // nullptr when the server cannot be reached in time.
    pa_context* context(double timeoutSeconds);
    // The context when it is connected already; never waits.
    pa_context* readyContext();
    // Starts connecting when there is no live context; never waits.
    void connectAsync();
    // Waits until `done()` holds or `timeoutSeconds` pass; true when it holds. Waking happens on
    // every signal(). Never waits on the event thread itself.
    bool waitUntil(const std::function<bool()>& done, double timeoutSeconds);
    // Waits for `op` to finish and releases it; cancels it at the time-out. True when it finished.
    // A time-out counts as a stalled server (see markStalled).
    bool wait(pa_operation* op, double timeoutSeconds);
    // The server stopped answering: the context is dropped and, for kStallBackoff seconds, calls
    // that need one fail at once instead of waiting again. (A server that refuses the connection
    // is retried on every call: that answer comes at once.)
    void markStalled();
    // Wakes every waiter (callbacks on the event thread call it).
    void signal();

    static constexpr double kStallBackoff = 3.0;

    pa_threaded_mainloop* mainloop() const { return mainloop_; }
    bool inEventThread() const;

    // Called on the event thread (lock held) whenever the context's state changes.
    std::function<void(pa_context_state_t)> onStateChange;

private:
    void dropContext();
    static void stateCallback(pa_context* c, void* self);

    std::string clientName_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    std::chrono::steady_clock::time_point retryAfter_{};
};

}  // namespace platform
