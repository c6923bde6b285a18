// A settings store that lives only in memory (tests).
#pragma once

#include "platform/Defaults.h"

#include <map>
#include <mutex>

namespace platform {

class MemoryDefaults : public Defaults {
public:
    std::optional<DefaultsValue> object(const std::string& key) const override;
    void set(const std::string& key, const DefaultsValue& value) override;
    void remove(const std::string& key) override;

private:
    mutable std::mutex mutex_;
    std::map<std::string, DefaultsValue> values_;
};

}  // namespace platform
