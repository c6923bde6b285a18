#include "ThreadPool.h"

#include <chrono>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SPEECH_PAUSE() _mm_pause()
#else
#define SPEECH_PAUSE() ((void)0)
#endif

namespace speech {

ThreadPool::ThreadPool(int threads) {
    if (threads < 1) threads = 1;
    if (threads > 256) threads = 256;
    for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { workerLoop(); });
}

ThreadPool::~ThreadPool() {
    stop_.store(true);
    generation_.fetch_add(1);
    generation_.notify_all();
    for (auto& t : workers_) t.join();
}

void ThreadPool::drain() {
    for (;;) {
        int64_t i = next_.fetch_add(1, std::memory_order_relaxed);
        if (i >= count_) break;
        task_(ctx_, i);
    }
}

void ThreadPool::dispatch(int64_t n, Task task, void* ctx) {
    task_ = task;
    ctx_ = ctx;
    count_ = n;
    next_.store(0, std::memory_order_relaxed);
    busy_.store(int(workers_.size()), std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_release);
    generation_.notify_all();
    drain();
    while (busy_.load(std::memory_order_acquire) != 0) SPEECH_PAUSE();
}

void ThreadPool::workerLoop() {
    uint32_t seen = generation_.load(std::memory_order_acquire);
    for (;;) {
        // Spin for a short while, then sleep until the next job.
        uint32_t g = generation_.load(std::memory_order_acquire);
        for (int spin = 0; g == seen && spin < 20000; ++spin) {
            SPEECH_PAUSE();
            g = generation_.load(std::memory_order_acquire);
        }
        while (g == seen) {
            generation_.wait(seen, std::memory_order_acquire);
            g = generation_.load(std::memory_order_acquire);
        }
        seen = g;
        if (stop_.load()) return;
        drain();
        busy_.fetch_sub(1, std::memory_order_acq_rel);
    }
}

}  // namespace speech
