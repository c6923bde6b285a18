#include "platform/MemoryKeychain.h"

namespace platform {

std::optional<std::string> MemoryKeychain::get(const std::string& service, const std::string& account) {
    std::lock_guard lock(mutex_);
    auto it = items_.find({service, account});
    if (it == items_.end()) return std::nullopt;
    return it->second;
}

bool MemoryKeychain::set(const std::string& service, const std::string& account, const std::string& data) {
    std::lock_guard lock(mutex_);
    items_[{service, account}] = data;
    return true;
}

bool MemoryKeychain::remove(const std::string& service, const std::string& account) {
    std::lock_guard lock(mutex_);
    items_.erase({service, account});
    return true;
}

}  // namespace platform
