// Microphone permission on this desktop: there is no per-program grant, so recording is
// authorised whenever the sound server answers.
#pragma once

#include "platform/MicPermission.h"
#include "platform/SoundServer.h"

namespace platform {

class PulseMicPermission : public MicPermission {
public:
    explicit PulseMicPermission(SoundServer& server) : server_(server) {}

    MicAuthorization status() override;
    void requestAccess(std::function<void(bool granted)> done) override;

private:
    SoundServer& server_;
};

}  // namespace platform
