// Secrets in the desktop's Secret Service (gnome-keyring and the like) through libsecret:
// one item per (service, account), found by its "service" and "account" attributes.
#pragma once

#include "platform/Keychain.h"

namespace platform {

class SecretServiceKeychain : public Keychain {
public:
    std::optional<std::string> get(const std::string& service, const std::string& account) override;
    bool set(const std::string& service, const std::string& account, const std::string& data) override;
    bool remove(const std::string& service, const std::string& account) override;
};

}  // namespace platform
