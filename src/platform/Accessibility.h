// Whether the program may read global keys and synthesise the paste chord.
#pragma once

#include "platform/ServiceSlot.h"

namespace platform {

class Accessibility {
public:
    virtual ~Accessibility() = default;
    // True when the display offers synthetic input (XTest) and global key events (XInput2).
    // `prompt` has no counterpart on this desktop and changes nothing.
    virtual bool isTrusted(bool prompt) = 0;

    static Accessibility& shared() { return ServiceSlot<Accessibility>::get(); }
    static void setShared(Accessibility* p) { ServiceSlot<Accessibility>::set(p); }
};

}  // namespace platform
