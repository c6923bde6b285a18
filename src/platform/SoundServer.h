// The sound server as the audio settings see it: the sources that can be recorded from, and the
// mute switch of the default output.
#pragma once

#include "platform/ServiceSlot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct SoundSource {
    std::uint32_t index = 0;   // the server's index; valid while the source exists
    std::string name;          // stable name (survives unplugging and replugging)
    std::string description;   // human-readable name
    std::uint32_t channels = 0;
    bool isMonitor = false;    // mirrors what a sink plays
};

class SoundServer {
public:
    virtual ~SoundServer() = default;

    // Every source in the server's order; empty when the server cannot be asked.
    virtual std::vector<SoundSource> sources() = 0;
    // Mute state of the default sink; nullopt when it cannot be read.
    virtual std::optional<bool> defaultSinkMuted() = 0;
    // Sets the default sink's mute switch; false when that did not happen.
    virtual bool setDefaultSinkMuted(bool muted) = 0;
    // True while the server answers.
    virtual bool isAvailable() = 0;

    static SoundServer& shared() { return ServiceSlot<SoundServer>::get(); }
    static void setShared(SoundServer* p) { ServiceSlot<SoundServer>::set(p); }
    static bool isInstalled() { return ServiceSlot<SoundServer>::isSet(); }
};

}  // namespace platform
