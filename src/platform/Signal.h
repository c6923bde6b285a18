// A list of callbacks to tell observers about a change (the plain-C++ side of "observable"
// objects; windows connect to it and refresh).
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

template <typename... Args>
class Signal {
public:
    using Slot = std::function<void(Args...)>;

    int connect(Slot slot) {
        std::lock_guard lock(mutex_);
        slots_[next_] = std::move(slot);
        return next_++;
    }
    void disconnect(int id) {
        std::lock_guard lock(mutex_);
        slots_.erase(id);
    }
    void notify(Args... args) const {
        std::vector<Slot> copy;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [id, s] : slots_) copy.push_back(s);
        }
        for (auto& s : copy) s(args...);
    }

private:
    mutable std::mutex mutex_;
    std::map<int, Slot> slots_;
    int next_ = 1;
};

}  // namespace platform
