// Prints, for a series of recordings through AudioRecorder over PulseAudio:
//  - how long start() takes, and the delay from calling start() to the first captured block;
//  - the capture thread's CPU time per second of recording.
// Usage: audio_capture_bench [--system] [--runs N] [--seconds S] [--feeder-latency MS]
//   --system          record from the running desktop's default source instead of a private server
//   --feeder-latency  latency of the private server's silent feeder; its null sink renders (and the
//                     virtual microphone delivers) at about that pace, which sets how often the
//                     capture thread wakes. A hardware source follows the recorder's block size.
#include "state/AppSettings.h"
#include "dictation/AudioRecorder.h"
#include "platform/FakeScheduler.h"
#include "platform/MemoryDefaults.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/pulse/PulseSoundServer.h"
#include "support/PulseServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuSeconds(clockid_t clock) {
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) return 0;
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Passes everything to the real input and notes, on the capture thread, when the first block
// came and which thread delivered it.
class MeasuringInput : public platform::AudioInput {
public:
    explicit MeasuringInput(platform::AudioInput& inner) : inner_(inner) {}

    platform::AudioSourceFormat sourceFormat(const std::string& source) override { return inner_.sourceFormat(source); }

    std::optional<platform::AudioInputError> start(const std::string& source, std::size_t blockFrames,
                                                   BlockHandler onBlock, EndHandler onEnded) override {
        first_ = {};
        haveFirst_ = false;
        blocks_ = 0;
        return inner_.start(source, blockFrames, [this, onBlock](std::span<const std::int16_t> s) {
            if (!haveFirst_.load()) {
                first_ = Clock::now();
                pthread_getcpuclockid(pthread_self(), &captureClock_);
                cpuAtFirst_ = threadCpuSeconds(captureClock_);
                haveFirst_ = true;
            }
            ++blocks_;
            onBlock(s);
        }, std::move(onEnded));
    }
    void stop() override { inner_.stop(); }

    bool haveFirst() const { return haveFirst_.load(); }
    Clock::time_point first() const { return first_; }
    clockid_t captureClock() const { return captureClock_; }
    double cpuAtFirst() const { return cpuAtFirst_; }
    int blocks() const { return blocks_.load(); }

private:
    platform::AudioInput& inner_;
    std::atomic<bool> haveFirst_{false};
    Clock::time_point first_;
    clockid_t captureClock_{};
    double cpuAtFirst_ = 0;
    std::atomic<int> blocks_{0};
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool system = false;
    int runs = 8;
    double seconds = 4;
    int feederLatency = 50;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--system") system = true;
        else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--seconds" && i + 1 < argc) seconds = std::max(0.5, std::atof(argv[++i]));
        else if (a == "--feeder-latency" && i + 1 < argc) feederLatency = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--system] [--runs N] [--seconds S] [--feeder-latency MS]\n", argv[0]);
            return 2;
        }
    }

    platform::FakeScheduler scheduler;  // levels are posted here and simply dropped
    platform::Scheduler::setMain(&scheduler);
    platform::MemoryDefaults defaults;
    platform::Defaults::setShared(&defaults);
    AppSettings::shared().reload();

    std::unique_ptr<test::PulseServer> pulse;
    if (!system) {
        test::PulseServer::Options options;
        options.feederLatencyMsec = feederLatency;
        pulse = std::make_unique<test::PulseServer>(options);
        if (!pulse->start()) {
            std::fprintf(stderr, "cannot start a private PulseAudio server: %s\n", pulse->error().c_str());
            return 1;
        }
    }
    platform::PulseSoundServer server;
    platform::SoundServer::setShared(&server);
    platform::PulseAudioInput real;
    MeasuringInput input(real);
    AudioRecorder recorder(&input);
    recorder.onLevel = [](float) {};

    std::printf("%4s %12s %12s %12s %14s %10s\n", "run", "start() ms", "1st block ms", "recorded s", "cpu ms per s",
                "bytes/s");

    std::vector<double> startMs, firstMs, cpuPerSecond;
    for (int run = 1; run <= runs; ++run) {
        if (pulse) pulse->sayAsync("one two three four five six seven eight nine ten");
        auto called = Clock::now();
        try {
            recorder.start();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "start failed: %s\n", e.what());
            return 1;
        }
        auto returned = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        while (!input.haveFirst() && Clock::now() - called < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        double cpuEnd = input.haveFirst() ? threadCpuSeconds(input.captureClock()) : 0;
        auto stopped = Clock::now();
        std::string image = recorder.stop();
        scheduler.runPending();

        double s = std::chrono::duration<double>(stopped - called).count();
        double sMs = std::chrono::duration<double, std::milli>(returned - called).count();
        double fMs = input.haveFirst() ? std::chrono::duration<double, std::milli>(input.first() - called).count() : -1;
        double span = input.haveFirst() ? std::chrono::duration<double>(stopped - input.first()).count() : 0;
        double cpu = span > 0 ? (cpuEnd - input.cpuAtFirst()) * 1000 / span : 0;
        std::printf("%4d %12.1f %12.1f %12.2f %14.3f %10.0f\n", run, sMs, fMs, s, cpu, (image.size() - 44) / s);
        startMs.push_back(sMs);
        if (fMs >= 0) firstMs.push_back(fMs);
        cpuPerSecond.push_back(cpu);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::printf("median: start() %.1f ms, first block %.1f ms after start() was called, capture thread CPU %.3f ms "
                "per second of recording\n",
                median(startMs), median(firstMs), median(cpuPerSecond));
    auto format = real.sourceFormat("");
    std::printf("source: %s, %.0f Hz, %u channels", format.source.c_str(), format.sampleRate, format.channels);
    if (system)
        std::printf(" (desktop server)\n");
    else
        std::printf(" (private server, virtual microphone, feeder latency %d ms)\n", feederLatency);
    std::printf("run 1 connects to the server first; the later runs reuse the connection\n");
    platform::SoundServer::setShared(nullptr);
    return 0;
}
