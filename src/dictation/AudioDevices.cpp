#include "dictation/AudioDevices.h"

#include "platform/SoundServer.h"

std::vector<AudioDevice> AudioDevices::inputs() {
    if (!platform::SoundServer::isInstalled()) return {};
    std::vector<AudioDevice> out;
    for (const auto& s : platform::SoundServer::shared().sources()) {
        // A monitor only mirrors what an output plays, as speakers do not record.
        if (s.isMonitor || s.channels == 0 || s.name.empty()) continue;
        out.push_back(AudioDevice{s.index, s.name, s.description});
    }
    return out;
}

std::optional<AudioDeviceID> AudioDevices::deviceID(const std::string& uid) {
    for (const auto& d : inputs())
        if (d.uid == uid) return d.id;
    return std::nullopt;
}

bool AudioDevices::outputMuted() {
    if (!platform::SoundServer::isInstalled()) return false;
    return platform::SoundServer::shared().defaultSinkMuted().value_or(false);
}

void AudioDevices::setOutputMuted(bool muted) {
    if (!platform::SoundServer::isInstalled()) return;
    platform::SoundServer::shared().setDefaultSinkMuted(muted);
}
