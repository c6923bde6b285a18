#include "ThreadPool.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SPEECH_PAUSE() _mm_pause()
#else
#define SPEECH_PAUSE() ((void)0)
#endif

namespace speech {

namespace {
constexpr uint64_t kMask22 = (uint64_t(1) << 22) - 1;
}

ThreadPool::ThreadPool(int threads) {
    if (threads < 1) threads = 1;
    if (threads > 256) threads = 256;
    for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { workerLoop(); });
}

float* ThreadPool::scratch(std::size_t n) {
    thread_local std::vector<float> buf;
    if (buf.size() < n) buf.resize(n);
    return buf.data();
}

ThreadPool::~ThreadPool() {
    stop_.store(true);
    wake_.fetch_add(1);
    wake_.notify_all();
    for (auto& t : workers_) t.join();
}

// Takes items of the current job until none is left. An item is claimed by advancing the
// state only while it still names the same job, so a late worker never runs an item of a
// job that has already finished.
void ThreadPool::help() {
    int64_t mine = 0;
    uint64_t s = state_.load(std::memory_order_acquire);
    for (;;) {
        const uint64_t next = s & kMask22, count = (s >> 22) & kMask22;
        if (next >= count) break;
        if (!state_.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel, std::memory_order_acquire))
            continue;
        task_(ctx_, int64_t(next));
        ++mine;
        s = state_.load(std::memory_order_acquire);
    }
    if (mine) done_.fetch_add(mine, std::memory_order_acq_rel);
}

void ThreadPool::dispatch(int64_t n, Task task, void* ctx) {
    task_ = task;
    ctx_ = ctx;
    done_.store(0, std::memory_order_relaxed);
    job_ = (job_ + 1) & ((uint64_t(1) << 20) - 1);
    state_.store((job_ << 44) | (uint64_t(n) << 22), std::memory_order_release);
    wake_.fetch_add(1, std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_seq_cst) > 0) wake_.notify_all();
    help();
    // The last items may be held by workers the system has descheduled: after a short spin,
    // give the processor away so that they can finish.
    for (int spin = 0; done_.load(std::memory_order_acquire) < n; ++spin) {
        if (spin < 2000) SPEECH_PAUSE();
        else std::this_thread::yield();
    }
}

void ThreadPool::workerLoop() {
    uint32_t seen = wake_.load(std::memory_order_acquire);
    for (;;) {
        uint32_t w = wake_.load(std::memory_order_acquire);
        for (int spin = 0; w == seen && spin < 4000; ++spin) {
            SPEECH_PAUSE();
            w = wake_.load(std::memory_order_acquire);
        }
        if (w == seen) {
            sleepers_.fetch_add(1, std::memory_order_seq_cst);
            wake_.wait(seen, std::memory_order_seq_cst);
            sleepers_.fetch_sub(1, std::memory_order_seq_cst);
            w = wake_.load(std::memory_order_acquire);
        }
        seen = w;
        if (stop_.load()) return;
        help();
    }
}

}  // namespace speech
