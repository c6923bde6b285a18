// Captures the microphone as 16 kHz mono 16-bit PCM and hands back a WAV image.
#pragma once

#include <functional>
#include <string>

class AudioRecorder {
public:
    AudioRecorder();
    virtual ~AudioRecorder();

    // Smoothed input level 0…1, delivered on the main queue while recording.
    std::function<void(float)> onLevel;

    // Starts capturing from the chosen input (or the default). Throws AppError on failure.
    virtual void start();
    // Stops and returns the WAV image of everything captured.
    virtual std::string stop();
    // Stops and drops the audio.
    virtual void cancel();

    // The WAV image (44-byte header) of 16 kHz mono signed 16-bit little-endian samples.
    static std::string wav(const std::string& pcm16Mono16k);
};
