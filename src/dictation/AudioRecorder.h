// Captures the microphone as 16 kHz mono 16-bit PCM and hands back a WAV image.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace platform {
class AudioInput;
}

class AudioRecorder {
public:
    // Records through `input`; without one, through the installed platform::AudioInput, looked up
    // at each start.
    explicit AudioRecorder(platform::AudioInput* input = nullptr);
    virtual ~AudioRecorder();
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    // Smoothed input level 0…1, delivered on the main queue while recording. Set it before start().
    std::function<void(float)> onLevel;
    // The source went away during the recording (set it before start()): called on the main queue,
    // once, while that recording is still the current one. The capture has ended; stop() hands
    // back what was captured until then.
    std::function<void()> onSourceLost;

    // Starts capturing from the chosen input (or the default). Throws AppError on failure: code 1
    // "No input device" when there is no usable source, the sound server's own error otherwise.
    // A failed start leaves nothing running and the output's mute as it was.
    virtual void start();
    // Stops and returns the WAV image of everything captured.
    virtual std::string stop();
    // Stops and drops the audio.
    virtual void cancel();

    bool isRecording() const { return isRecording_.load(); }

    // The WAV image (44-byte header) of 16 kHz mono signed 16-bit little-endian samples.
    static std::string wav(const std::string& pcm16Mono16k);

    // Level of one block: rms of the samples (full scale 1) times 6, at most 1; 0 for no samples.
    static float inputLevel(std::span<const std::int16_t> samples);
    // The next smoothed level: quick to rise (0.6 new, 0.4 old), slow to fall (0.2 new, 0.8 old).
    static float smoothLevel(float previous, float level);

    // Frames per captured block, counted at the source's own rate.
    static constexpr double kBlockSourceFrames = 4096;

private:
    void append(std::span<const std::int16_t> samples);
    void emitLevel(std::span<const std::int16_t> samples);
    void endCapture();
    void restoreOutput();

    platform::AudioInput* input_ = nullptr;  // as given
    platform::AudioInput* active_ = nullptr; // the input a capture runs on
    std::mutex lock_;                        // guards pcm_ between the capture thread and callers
    std::string pcm_;
    std::atomic<bool> isRecording_{false};
    std::function<void(float)> levelSink_;   // onLevel as it was at start
    // Counts recordings (start, stop and cancel each move it on), so a loss reported late is
    // not taken for the next recording's.
    std::shared_ptr<std::atomic<std::uint64_t>> generation_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    float smoothedLevel_ = 0;                // capture thread only
    bool didMuteOutput_ = false;
};
