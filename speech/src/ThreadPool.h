// One persistent pool of workers for the engine. `run(n, fn)` calls fn(i) for every i in
// [0, n) on the workers and the calling thread and returns when all calls are done.
// Work is handed out item by item, so a worker that the system has descheduled (the
// machine is shared) delays a job by at most the item it holds, and a job never waits for
// a worker to wake up. Workers spin briefly after a job, so that the decoder's many small
// jobs start quickly, then sleep.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace speech {

class ThreadPool {
public:
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int size() const { return int(workers_.size()) + 1; }

    // Scratch memory of the calling thread (n floats), grown on demand and kept.
    static float* scratch(std::size_t n);

    template <class F>
    void run(int64_t n, F&& fn) {
        if (n <= 0) return;
        if (n == 1 || workers_.empty()) {
            for (int64_t i = 0; i < n; ++i) fn(i);
            return;
        }
        auto* f = &fn;
        for (int64_t start = 0; start < n; start += kMaxItems) {
            struct Slice {
                decltype(f) fn;
                int64_t base;
            } slice{f, start};
            dispatch(std::min<int64_t>(kMaxItems, n - start),
                     [](void* ctx, int64_t i) {
                         auto* s = static_cast<Slice*>(ctx);
                         (*s->fn)(s->base + i);
                     },
                     &slice);
        }
    }

private:
    using Task = void (*)(void*, int64_t);
    static constexpr int64_t kMaxItems = (int64_t(1) << 22) - 1;

    void dispatch(int64_t n, Task task, void* ctx);
    void workerLoop();
    void help();

    std::vector<std::thread> workers_;
    Task task_ = nullptr;
    void* ctx_ = nullptr;
    // Job id (20 bits) | item count (22 bits) | next item (22 bits), changed together.
    alignas(64) std::atomic<uint64_t> state_{0};
    alignas(64) std::atomic<int64_t> done_{0};
    alignas(64) std::atomic<uint32_t> wake_{0};
    std::atomic<int> sleepers_{0};
    std::atomic<bool> stop_{false};
    uint64_t job_ = 0;
};

}  // namespace speech
