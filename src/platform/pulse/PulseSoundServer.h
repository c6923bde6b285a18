// The sound server over libpulse: source listing and the default sink's mute switch, each
// answered within about a second even when the server hangs.
#pragma once

#include "platform/pulse/PulseConnection.h"
#include "platform/SoundServer.h"

namespace platform {

class PulseSoundServer : public SoundServer {
public:
    PulseSoundServer();

    std::vector<SoundSource> sources() override;
    std::optional<bool> defaultSinkMuted() override;
    bool setDefaultSinkMuted(bool muted) override;
    bool isAvailable() override;

    // Longest wait for the connection and for each answer.
    static constexpr double kConnectTimeout = 1.0;
    static constexpr double kReplyTimeout = 1.0;

private:
    PulseConnection connection_;
};

}  // namespace platform
