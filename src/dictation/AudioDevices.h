// The audio inputs that can record, lookup of a stored input by its UID, and the mute switch of
// the default output. Stateless: every call asks the sound server afresh. Nothing throws: what
// cannot be read counts as not there (no devices, not muted).
#pragma once

#include "dictation/AudioDevice.h"

#include <optional>
#include <string>
#include <vector>

class AudioDevices {
public:
    AudioDevices() = delete;

    // Every source that records (monitors of outputs are left out), in the server's order.
    static std::vector<AudioDevice> inputs();
    // The id of the first input whose uid equals `uid` exactly.
    static std::optional<AudioDeviceID> deviceID(const std::string& uid);
    // True only when the default output reads as muted.
    static bool outputMuted();
    // Sets the default output's mute switch; a failure goes unreported.
    static void setOutputMuted(bool muted);
};
