// The installed implementation of a platform interface: the real one at start-up, a fake in tests.
#pragma once

#include <atomic>
#include <stdexcept>
#include <string>

namespace platform {

template <typename T>
struct ServiceSlot {
    static T& get() {
        T* p = slot().load();
        if (!p) throw std::logic_error("platform service not installed");
        return *p;
    }
    static void set(T* p) { slot().store(p); }
    static bool isSet() { return slot().load() != nullptr; }

private:
    static std::atomic<T*>& slot() {
        static std::atomic<T*> p{nullptr};
        return p;
    }
};

}  // namespace platform
