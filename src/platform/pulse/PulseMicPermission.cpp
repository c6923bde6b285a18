#include "platform/pulse/PulseMicPermission.h"

#include "platform/MainQueue.h"

namespace platform {

MicAuthorization PulseMicPermission::status() {
    return server_.isAvailable() ? MicAuthorization::authorized : MicAuthorization::denied;
}

void PulseMicPermission::requestAccess(std::function<void(bool granted)> done) {
    bool granted = status() == MicAuthorization::authorized;
    if (done) MainQueue::post([done = std::move(done), granted] { done(granted); });
}

}  // namespace platform
