// Short feedback sounds by name: "Pop" (start), "Tink" (success), "Basso" (failure).
#pragma once

#include "platform/ServiceSlot.h"

#include <string>

namespace platform {

class Sounds {
public:
    virtual ~Sounds() = default;
    // Starts playing and returns at once; an unknown name or no sound server does nothing.
    virtual void play(const std::string& name) = 0;

    static Sounds& shared() { return ServiceSlot<Sounds>::get(); }
    static void setShared(Sounds* p) { ServiceSlot<Sounds>::set(p); }
};

}  // namespace platform
