// One persistent pool of workers for the engine. `run(n, fn)` calls fn(i) for every i in
// [0, n) on the workers and the calling thread and returns when all calls are done.
// Workers spin briefly after a job so that the decoder's many small jobs start quickly,
// then sleep.
#pragma once

#include <atomic>
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

    template <class F>
    void run(int64_t n, F&& fn) {
        if (n <= 0) return;
        if (n == 1 || workers_.empty()) {
            for (int64_t i = 0; i < n; ++i) fn(i);
            return;
        }
        auto* f = &fn;
        dispatch(n, [](void* ctx, int64_t i) { (*static_cast<decltype(f)>(ctx))(i); }, f);
    }

private:
    using Task = void (*)(void*, int64_t);
    void dispatch(int64_t n, Task task, void* ctx);
    void workerLoop();
    void drain();

    std::vector<std::thread> workers_;
    Task task_ = nullptr;
    void* ctx_ = nullptr;
    int64_t count_ = 0;
    alignas(64) std::atomic<int64_t> next_{0};
    alignas(64) std::atomic<uint32_t> generation_{0};
    alignas(64) std::atomic<int> busy_{0};
    std::atomic<bool> stop_{false};
};

}  // namespace speech
