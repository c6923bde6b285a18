#include "dictation/AudioRecorder.h"

#include "state/AppError.h"
#include "state/AppSettings.h"
#include "state/WavImage.h"
#include "dictation/AudioDevices.h"
#include "platform/AudioInput.h"
#include "platform/MainQueue.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "samples are kept in host order");

namespace {

constexpr double kTargetRate = 16000;
using WavImage::kMaxPCMBytes;

}  // namespace

AudioRecorder::AudioRecorder(platform::AudioInput* input) : input_(input) {}

AudioRecorder::~AudioRecorder() {
    endCapture();
    restoreOutput();
}

void AudioRecorder::start() {
    // A start while recording begins afresh (the mute this recorder set stays owned by it).
    endCapture();
    {
        std::lock_guard<std::mutex> g(lock_);
        pcm_.clear();
    }

    platform::AudioInput* input = input_;
    if (!input && platform::AudioInput::isInstalled()) input = &platform::AudioInput::shared();

    const AppSettings& settings = AppSettings::shared();
    // An empty choice, or a device that is not attached, keeps the default source.
    std::string source;
    const std::string uid = settings.inputDeviceUID();
    if (!uid.empty() && AudioDevices::deviceID(uid)) source = uid;

    if (settings.pauseOtherAudio() && !didMuteOutput_ && !AudioDevices::outputMuted()) {
        AudioDevices::setOutputMuted(true);
        didMuteOutput_ = true;
    }

    platform::AudioSourceFormat format;
    if (input) format = input->sourceFormat(source);
    // A monitor would record what the speakers play, not a microphone.
    if (!(format.sampleRate > 0) || format.channels == 0 || format.isMonitor) {
        restoreOutput();
        throw AppError(1, "No input device");
    }

    const auto blockFrames = static_cast<std::size_t>(
        std::max<long long>(1, std::llround(kBlockSourceFrames * kTargetRate / format.sampleRate)));
    levelSink_ = onLevel;
    const std::uint64_t recording = ++*generation_;
    auto ended = [generation = generation_, recording, sink = onSourceLost] {
        if (!sink) return;
        platform::MainQueue::post([generation, recording, sink] {
            if (generation->load() == recording) sink();
        });
    };
    auto error = input->start(
        source, blockFrames,
        [this](std::span<const std::int16_t> samples) {
            append(samples);
            emitLevel(samples);
        },
        ended);
    if (error) {
        input->stop();
        restoreOutput();
        throw AppError(error->code, error->message, error->domain);
    }
    active_ = input;
    isRecording_ = true;
}

std::string AudioRecorder::stop() {
    endCapture();
    restoreOutput();
    std::string pcm;
    {
        std::lock_guard<std::mutex> g(lock_);
        pcm.swap(pcm_);
    }
    return wav(pcm);
}

void AudioRecorder::cancel() {
    endCapture();
    restoreOutput();
    std::lock_guard<std::mutex> g(lock_);
    std::string().swap(pcm_);
}

void AudioRecorder::endCapture() {
    ++*generation_;
    if (active_) active_->stop();
    active_ = nullptr;
    isRecording_ = false;
}

void AudioRecorder::restoreOutput() {
    if (!didMuteOutput_) return;
    AudioDevices::setOutputMuted(false);
    didMuteOutput_ = false;
}

void AudioRecorder::append(std::span<const std::int16_t> samples) {
    if (samples.empty()) return;
    std::lock_guard<std::mutex> g(lock_);
    std::size_t bytes = std::min(samples.size() * 2, kMaxPCMBytes - std::min(kMaxPCMBytes, pcm_.size()));
    pcm_.append(reinterpret_cast<const char*>(samples.data()), bytes);
}

void AudioRecorder::emitLevel(std::span<const std::int16_t> samples) {
    if (!levelSink_) return;
    smoothedLevel_ = smoothLevel(smoothedLevel_, inputLevel(samples));
    platform::MainQueue::post([sink = levelSink_, value = smoothedLevel_] { sink(value); });
}

float AudioRecorder::inputLevel(std::span<const std::int16_t> samples) {
    if (samples.empty()) return 0;
    double sum = 0;
    for (std::int16_t s : samples) {
        double x = s * (1.0 / 32768.0);
        sum += x * x;
    }
    double rms = std::sqrt(sum / static_cast<double>(samples.size()));
    return static_cast<float>(std::min(rms * 6.0, 1.0));
}

float AudioRecorder::smoothLevel(float previous, float level) {
    if (level > previous) return 0.6f * level + 0.4f * previous;
    return 0.2f * level + 0.8f * previous;
}

std::string AudioRecorder::wav(const std::string& pcm16Mono16k) { return WavImage::make(pcm16Mono16k); }
