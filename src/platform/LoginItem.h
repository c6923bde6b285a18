// Starting the program at login: an XDG autostart entry.
#pragma once

#include "platform/ServiceSlot.h"

namespace platform {

class LoginItem {
public:
    virtual ~LoginItem() = default;
    // False when the registration could not be changed.
    virtual bool registerItem() = 0;
    virtual bool unregisterItem() = 0;
    virtual bool isEnabled() const = 0;

    static LoginItem& shared() { return ServiceSlot<LoginItem>::get(); }
    static void setShared(LoginItem* p) { ServiceSlot<LoginItem>::set(p); }
};

}  // namespace platform
