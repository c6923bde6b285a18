// Whether the program may record the microphone.
#pragma once

#include "platform/ServiceSlot.h"

#include <functional>

namespace platform {

enum class MicAuthorization { notDetermined, restricted, denied, authorized };

class MicPermission {
public:
    virtual ~MicPermission() = default;

    virtual MicAuthorization status() = 0;
    // Asks for access where the desktop has a prompt; `done` gets the answer on the main queue.
    virtual void requestAccess(std::function<void(bool granted)> done) = 0;

    static MicPermission& shared() { return ServiceSlot<MicPermission>::get(); }
    static void setShared(MicPermission* p) { ServiceSlot<MicPermission>::set(p); }
    static bool isInstalled() { return ServiceSlot<MicPermission>::isSet(); }
};

}  // namespace platform
