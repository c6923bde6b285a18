// Generic-password secrets keyed by (service, account).
#pragma once

#include "platform/ServiceSlot.h"

#include <optional>
#include <string>

namespace platform {

class Keychain {
public:
    virtual ~Keychain() = default;

    // The stored bytes, or nullopt when there is no item or the store cannot be reached.
    virtual std::optional<std::string> get(const std::string& service, const std::string& account) = 0;
    // Adds the item (an existing item of the same service and account is replaced). False when the
    // store does not hold it (yet).
    virtual bool set(const std::string& service, const std::string& account, const std::string& data) = 0;
    // Deletes the item; true when none is left (also when there was none).
    virtual bool remove(const std::string& service, const std::string& account) = 0;

    static Keychain& shared() { return ServiceSlot<Keychain>::get(); }
    static void setShared(Keychain* p) { ServiceSlot<Keychain>::set(p); }
};

}  // namespace platform
