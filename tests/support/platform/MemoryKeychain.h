// Secrets kept in memory only (tests, and the fallback when no secret service runs).
#pragma once

#include "platform/Keychain.h"

#include <map>
#include <mutex>

namespace platform {

class MemoryKeychain : public Keychain {
public:
    std::optional<std::string> get(const std::string& service, const std::string& account) override;
    bool set(const std::string& service, const std::string& account, const std::string& data) override;
    bool remove(const std::string& service, const std::string& account) override;

private:
    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::string> items_;
};

}  // namespace platform
