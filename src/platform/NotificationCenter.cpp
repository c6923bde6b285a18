#include "platform/NotificationCenter.h"

#include <vector>

namespace platform {

NotificationCenter& NotificationCenter::shared() {
    static NotificationCenter center;
    return center;
}

int NotificationCenter::addObserver(const std::string& name, Observer observer) {
    std::lock_guard lock(mutex_);
    const int token = next_++;
    observers_[token] = {name, std::move(observer)};
    return token;
}

void NotificationCenter::removeObserver(int token) {
    std::lock_guard lock(mutex_);
    observers_.erase(token);
}

void NotificationCenter::post(const std::string& name) {
    std::vector<Observer> toCall;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, entry] : observers_)
            if (entry.first == name) toCall.push_back(entry.second);
    }
    for (auto& fn : toCall) fn();
}

}  // namespace platform
