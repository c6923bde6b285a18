// Secrets in the desktop's Secret Service (gnome-keyring and the like) through libsecret:
// one item per (service, account), found by its "service" and "account" attributes.
//
// The service is another process that may be slow, hung, absent or locked, so all of its work
// runs on a thread of this object's own, and a caller waits for it at most `waitSeconds`:
// - a read never asks to unlock: an item in a locked collection, a service that does not answer
//   in time and a service that is absent all read as "no item";
// - the session bus going away ends nothing but the service: reads are "no item" and writes are
//   kept until a bus (the one the session names) with a service on it answers again;
// - a write is kept here until the service has it. Until then reads of that item see the value
//   written, so it is used in this run. A write to a locked collection asks the desktop to unlock
//   it; the prompt is answered whenever the user chooses, and the write lands then. A write that
//   failed is tried again at the next write, and at the next read once the collection is open.
#pragma once

#include "platform/Keychain.h"

#include <memory>

namespace platform {

class SecretServiceKeychain : public Keychain {
public:
    explicit SecretServiceKeychain(double waitSeconds = 2.0);
    ~SecretServiceKeychain() override;
    SecretServiceKeychain(const SecretServiceKeychain&) = delete;
    SecretServiceKeychain& operator=(const SecretServiceKeychain&) = delete;

    std::optional<std::string> get(const std::string& service, const std::string& account) override;
    // True once the service holds the item; false when it does not yet (the value is still used
    // in this run and stored when the service can take it).
    bool set(const std::string& service, const std::string& account, const std::string& data) override;
    bool remove(const std::string& service, const std::string& account) override;

    struct Worker;

private:
    bool write(const std::string& service, const std::string& account, std::optional<std::string> data);

    double waitSeconds_;
    std::shared_ptr<Worker> worker_;
};

}  // namespace platform
