// One audio input the user can record from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

using AudioDeviceID = std::uint32_t;

struct AudioDevice {
    AudioDeviceID id = 0;  // the sound server's index; valid only while the device is attached
    std::string uid;       // persistent identifier, the value kept in the input-device setting
    std::string name;      // human-readable name

    bool operator==(const AudioDevice&) const = default;
};

template <>
struct std::hash<AudioDevice> {
    std::size_t operator()(const AudioDevice& d) const noexcept {
        std::size_t h = std::hash<AudioDeviceID>{}(d.id);
        h ^= std::hash<std::string>{}(d.uid) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        h ^= std::hash<std::string>{}(d.name) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        return h;
    }
};
