// Keeps our own keys from every window: while a key is held here, its presses and releases reach
// no program (ours included); the key events still report them, so the key works only as ours.
#pragma once

#include "platform/ServiceSlot.h"

#include <vector>

namespace platform {

class KeyGrab {
public:
    virtual ~KeyGrab() = default;

    // Holds the keys that carry these stored codes and are ordinary keys on this desktop (a
    // modifier key reaches programs harmlessly and is left alone), and lets go of every key held
    // before that is not among them. An empty list lets go of all. A key another program holds
    // already is left to it (and still reported by the key events).
    virtual void hold(const std::vector<int>& codes) = 0;

    static KeyGrab& shared() { return ServiceSlot<KeyGrab>::get(); }
    static bool hasShared() { return ServiceSlot<KeyGrab>::isSet(); }
    static void setShared(KeyGrab* p) { ServiceSlot<KeyGrab>::set(p); }
};

}  // namespace platform
