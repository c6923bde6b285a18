#include "platform/MemoryDefaults.h"

namespace platform {

std::optional<DefaultsValue> MemoryDefaults::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void MemoryDefaults::set(const std::string& key, const DefaultsValue& value) {
    std::lock_guard lock(mutex_);
    values_[key] = value;
}

void MemoryDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
}

}  // namespace platform
