// Capture over libpulse. The record stream is opened at 16 kHz mono signed 16-bit, so the server
// converts whatever the source delivers; the stream asks for fragments of one block so samples
// arrive about once per block. Callbacks run on this object's own event thread ("tovrin-capture").
// The stream is pinned to its source (PA_STREAM_DONT_MOVE): when the source goes, the server ends
// the stream instead of moving it to whatever source it would pick next, a monitor among them.
#pragma once

#include "platform/AudioInput.h"
#include "platform/pulse/PulseConnection.h"

#include <vector>

namespace platform {

class PulseAudioInput : public AudioInput {
public:
    PulseAudioInput();
    ~PulseAudioInput() override;

    AudioSourceFormat sourceFormat(const std::string& source) override;
    std::optional<AudioInputError> start(const std::string& source, std::size_t blockFrames,
                                         BlockHandler onBlock, EndHandler onEnded) override;
    void stop() override;

    static constexpr double kConnectTimeout = 1.5;
    static constexpr double kReplyTimeout = 1.0;
    static constexpr double kStreamTimeout = 2.0;

private:
    // sourceFormat with the lock held (once).
    AudioSourceFormat queryFormat(const std::string& source);
    static void readCallback(pa_stream* s, std::size_t bytes, void* self);
    static void streamStateCallback(pa_stream* s, void* self);
    void consume(const std::uint8_t* data, std::size_t bytes);
    void closeStream();
    AudioInputError errorFrom(pa_context* c, const std::string& what) const;

    PulseConnection connection_;
    pa_stream* stream_ = nullptr;
    BlockHandler onBlock_;
    EndHandler onEnded_;
    bool running_ = false;  // the stream became ready and has not been closed or lost since
    std::size_t blockFrames_ = 0;
    std::vector<std::uint8_t> pending_;  // bytes of the block being filled
    std::vector<std::int16_t> block_;
};

}  // namespace platform
