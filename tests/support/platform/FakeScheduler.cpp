#include "platform/FakeScheduler.h"

#include <algorithm>

namespace platform {

void FakeScheduler::post(std::function<void()> fn) { postAfter(0, std::move(fn)); }

TimerHandle FakeScheduler::postAfter(double seconds, std::function<void()> fn) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex_);
    entries_.push_back({now_ + std::max(0.0, seconds), seq_++, std::move(fn), flag});
    return TimerHandle(flag);
}

double FakeScheduler::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

bool FakeScheduler::runOneDue(double limit) {
    Entry next;
    {
        std::lock_guard lock(mutex_);
        auto it = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.seq < b.seq;
        });
        if (it == entries_.end() || it->due > limit) return false;
        next = std::move(*it);
        entries_.erase(it);
        now_ = std::max(now_, next.due);
    }
    if (!next.cancelled->load()) next.fn();
    return true;
}

void FakeScheduler::runPending() {
    while (runOneDue(now())) {
    }
}

void FakeScheduler::advance(double seconds) {
    const double target = now() + seconds;
    while (runOneDue(target)) {
    }
    std::lock_guard lock(mutex_);
    now_ = std::max(now_, target);
}

std::size_t FakeScheduler::pendingCount() const {
    std::lock_guard lock(mutex_);
    return std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return !e.cancelled->load(); });
}

}  // namespace platform
