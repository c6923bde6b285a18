#include "platform/pulse/PulseConnection.h"

#include <cmath>

namespace platform {

PulseConnection::PulseConnection(std::string clientName, const std::string& threadName)
    : clientName_(std::move(clientName)) {
    mainloop_ = pa_threaded_mainloop_new();
    if (!mainloop_) return;
    if (!threadName.empty()) pa_threaded_mainloop_set_name(mainloop_, threadName.c_str());
    if (pa_threaded_mainloop_start(mainloop_) < 0) {
        pa_threaded_mainloop_free(mainloop_);
        mainloop_ = nullptr;
    }
}

PulseConnection::~PulseConnection() {
    if (!mainloop_) return;
    {
        Lock lock(*this);
        onStateChange = nullptr;
        dropContext();
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

PulseConnection::Lock::Lock(PulseConnection& c) : c_(c) {
    if (c_.mainloop_) pa_threaded_mainloop_lock(c_.mainloop_);
}

PulseConnection::Lock::~Lock() {
    if (c_.mainloop_) pa_threaded_mainloop_unlock(c_.mainloop_);
}

bool PulseConnection::inEventThread() const {
    return mainloop_ && pa_threaded_mainloop_in_thread(mainloop_);
}

void PulseConnection::signal() {
    if (mainloop_) pa_threaded_mainloop_signal(mainloop_, 0);
}

void PulseConnection::stateCallback(pa_context* c, void* self) {
    auto* conn = static_cast<PulseConnection*>(self);
    if (conn->onStateChange) conn->onStateChange(pa_context_get_state(c));
    conn->signal();
}

void PulseConnection::dropContext() {
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void PulseConnection::connectAsync() {
    if (!mainloop_) return;
    if (context_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return;
    dropContext();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tovrin");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "tovrin");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), clientName_.c_str(), props);
    pa_proplist_free(props);
    if (!context_) return;
    pa_context_set_state_callback(context_, &PulseConnection::stateCallback, this);
    // Never start a server of our own: the desktop runs one or there is none.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) dropContext();
}

pa_context* PulseConnection::readyContext() {
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return context_;
    return nullptr;
}

pa_context* PulseConnection::context(double timeoutSeconds) {
    if (pa_context* c = readyContext()) return c;
    if (std::chrono::steady_clock::now() < retryAfter_) return nullptr;
    connectAsync();
    if (!context_) return nullptr;
    bool settled = waitUntil(
        [this] {
            return !context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
                   pa_context_get_state(context_) == PA_CONTEXT_READY;
        },
        timeoutSeconds);
    if (pa_context* c = readyContext()) return c;
    if (!settled && !inEventThread()) {
        markStalled();
        return nullptr;
    }
    dropContext();
    return nullptr;
}

void PulseConnection::markStalled() {
    dropContext();
    retryAfter_ = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(kStallBackoff));
}

namespace {
struct Expiry {
    PulseConnection* conn;
    bool expired = false;
};
}  // namespace

bool PulseConnection::waitUntil(const std::function<bool()>& done, double timeoutSeconds) {
    if (done()) return true;
    if (!mainloop_ || inEventThread() || timeoutSeconds <= 0) return false;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(std::llround(timeoutSeconds * 1e6)));
    Expiry expiry{this};
    pa_time_event* timer = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* ud) {
            auto* e = static_cast<Expiry*>(ud);
            e->expired = true;
            e->conn->signal();
        },
        &expiry);
    while (!done() && !expiry.expired) pa_threaded_mainloop_wait(mainloop_);
    if (timer) api->time_free(timer);
    return done();
}

bool PulseConnection::wait(pa_operation* op, double timeoutSeconds) {
    if (!op) return false;
    pa_operation_set_state_callback(
        op, [](pa_operation*, void* self) { static_cast<PulseConnection*>(self)->signal(); }, this);
    bool finished =
        waitUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeoutSeconds);
    pa_operation_set_state_callback(op, nullptr, nullptr);
    if (!finished) pa_operation_cancel(op);
    bool ok = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    if (!finished && !inEventThread()) markStalled();
    return ok;
}

}  // namespace platform
