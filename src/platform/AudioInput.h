// Capture from one source of the sound server, delivered as 16 kHz mono signed 16-bit samples
// (host order, which is little-endian here) in blocks of a fixed length.
#pragma once

#include "platform/ServiceSlot.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace platform {

// What a capture from a source would record from.
struct AudioSourceFormat {
    std::string source;        // the resolved source name ("" when there is none)
    double sampleRate = 0;     // the source's own rate; 0 when unknown
    std::uint32_t channels = 0;
    bool isMonitor = false;    // the source only mirrors a sink
};

struct AudioInputError {
    std::string domain;
    int code = 0;
    std::string message;
};

class AudioInput {
public:
    using BlockHandler = std::function<void(std::span<const std::int16_t>)>;
    using EndHandler = std::function<void()>;

    virtual ~AudioInput() = default;

    // The format of `source`, or of the default source when `source` is empty. A zero rate or
    // channel count when there is no such source or the server cannot be asked.
    virtual AudioSourceFormat sourceFormat(const std::string& source) = 0;

    // Starts capturing from `source` (the default source when empty). `onBlock` is called on the
    // capture thread with blocks of `blockFrames` samples at 16 kHz mono. On failure nothing keeps
    // running and the error says why.
    //
    // The capture stays on that source: when the source goes away (unplugged, its module
    // unloaded, the server gone) the capture ends rather than following the server to another
    // source, and `onEnded` is called once on the capture thread; stop() still hands over what
    // arrived. A default capture never records the monitor of an output: a monitor is recorded
    // only when it is named.
    virtual std::optional<AudioInputError> start(const std::string& source, std::size_t blockFrames,
                                                 BlockHandler onBlock, EndHandler onEnded) = 0;

    // Ends the capture. Samples that arrived but do not fill a whole block are handed over first,
    // on the calling thread. Once it returns, `onBlock` is not running and will not be called
    // again. Harmless when nothing runs.
    virtual void stop() = 0;

    static AudioInput& shared() { return ServiceSlot<AudioInput>::get(); }
    static void setShared(AudioInput* p) { ServiceSlot<AudioInput>::set(p); }
    static bool isInstalled() { return ServiceSlot<AudioInput>::isSet(); }
};

}  // namespace platform
