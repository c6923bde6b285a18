// The recorder against a real PulseAudio daemon with virtual microphones fed from files.
#include "state/AppError.h"
#include "state/AppSettings.h"
#include "dictation/AudioRecorder.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/pulse/PulseSoundServer.h"
#include "support/PulseServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<short> samplesOf(const std::string& image) {
    std::vector<short> v((image.size() - 44) / 2);
    std::memcpy(v.data(), image.data() + 44, v.size() * 2);
    return v;
}

double correlationAt(const std::vector<double>& a, const std::vector<double>& b, long lag) {
    // b shifted by `lag` inside a, over the overlap.
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t j = 0; j < b.size(); ++j) {
        long i = lag + static_cast<long>(j);
        if (i < 0 || i >= static_cast<long>(a.size())) continue;
        ab += a[i] * b[j];
        aa += a[i] * a[i];
        bb += b[j] * b[j];
    }
    return (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0;
}

// The highest normalised cross-correlation of `clip` anywhere inside `recording`: a coarse
// search on 4:1 averaged signals, refined at the full rate.
double bestCorrelation(const std::vector<short>& recording, const std::vector<short>& clip) {
    auto decimate = [](const std::vector<short>& s, std::size_t f) {
        std::vector<double> out(s.size() / f);
        for (std::size_t i = 0; i < out.size(); ++i) {
            double sum = 0;
            for (std::size_t k = 0; k < f; ++k) sum += s[i * f + k];
            out[i] = sum / f;
        }
        return out;
    };
    auto coarseRec = decimate(recording, 4), coarseClip = decimate(clip, 4);
    long bestLag = 0;
    double best = -2;
    for (long lag = -static_cast<long>(coarseClip.size()) / 2; lag < static_cast<long>(coarseRec.size()); ++lag) {
        double c = correlationAt(coarseRec, coarseClip, lag);
        if (c > best) best = c, bestLag = lag;
    }
    auto fullRec = decimate(recording, 1), fullClip = decimate(clip, 1);
    best = -2;
    for (long lag = bestLag * 4 - 8; lag <= bestLag * 4 + 8; ++lag) best = std::max(best, correlationAt(fullRec, fullClip, lag));
    return best;
}

class AudioRecorderIT : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::PulseServer::Options options;
        options.extraMics.push_back({"micfeed2", "vmic2", "Second Microphone", 44100, 1});
        pulse = new test::PulseServer(options);
        ASSERT_TRUE(pulse->start()) << pulse->error();
        sounds = new platform::PulseSoundServer;
        input = new platform::PulseAudioInput;
        clipA = pulse->folder() + "/a.wav";
        clipB = pulse->folder() + "/b.wav";
        ASSERT_TRUE(test::PulseServer::speak("The quick brown fox jumps over the lazy dog", clipA));
        ASSERT_TRUE(test::PulseServer::speak("Seven silver swans swam south in September", clipB));
        refA = *test::PulseServer::readAs16kMono(clipA);
        refB = *test::PulseServer::readAs16kMono(clipB);
    }
    static void TearDownTestSuite() {
        delete input;
        delete sounds;
        delete pulse;
    }
    void SetUp() override {
        if (!pulse || !pulse->isRunning()) GTEST_SKIP() << "no sound server";
        test::reset();
        platform::SoundServer::setShared(sounds);
        pulse->setSinkMuted(false);
        pulse->setDefaultSource("vmic");
    }
    void TearDown() override { platform::SoundServer::setShared(nullptr); }

    static inline test::PulseServer* pulse = nullptr;
    static inline platform::PulseSoundServer* sounds = nullptr;
    static inline platform::PulseAudioInput* input = nullptr;
    static inline std::string clipA, clipB;
    static inline std::vector<short> refA, refB;
};

TEST_F(AudioRecorderIT, StereoSourceRecordsSixteenKilohertzMonoThatMatchesTheSource) {
    AudioRecorder recorder(input);
    std::vector<float> levels;
    recorder.onLevel = [&](float v) { levels.push_back(v); };
    recorder.start();
    auto started = Clock::now();
    ASSERT_TRUE(pulse->play(clipA));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::string image = recorder.stop();

    double bytesPerSecond = (image.size() - 44) / seconds;
    EXPECT_NEAR(bytesPerSecond, 32000, 3200) << "over " << seconds << " s";
    EXPECT_EQ(image.size() % 2, 0u);

    double same = bestCorrelation(samplesOf(image), refA);
    double other = bestCorrelation(samplesOf(image), refB);
    std::printf("recorded %.0f bytes/s; correlation with the clip played %.3f, with another clip %.3f\n",
                bytesPerSecond, same, other);
    EXPECT_GT(same, 0.85) << "the recording does not carry the clip";
    EXPECT_LT(other, 0.4) << "the correlation cannot tell clips apart";

    test::fakes().scheduler.runPending();
    ASSERT_FALSE(levels.empty());
    EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 0.3f);
}

TEST_F(AudioRecorderIT, ChosenSourceIsRecordedNotTheDefault) {
    AppSettings::shared().setInputDeviceUID("vmic2");
    AudioRecorder recorder(input);
    recorder.start();
    pid_t a = pulse->playAsync(clipA, "micfeed2");
    pid_t b = pulse->playAsync(clipB, "micfeed");
    EXPECT_TRUE(test::PulseServer::waitProcess(a, 20));
    EXPECT_TRUE(test::PulseServer::waitProcess(b, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto samples = samplesOf(recorder.stop());
    EXPECT_GT(bestCorrelation(samples, refA), 0.85);
    EXPECT_LT(bestCorrelation(samples, refB), 0.4);
}

TEST_F(AudioRecorderIT, UnpluggedChoiceFallsBackToTheDefaultSource) {
    AppSettings::shared().setInputDeviceUID("alsa_input.usb-unplugged-mic");
    AudioRecorder recorder(input);
    recorder.start();
    ASSERT_TRUE(pulse->play(clipB));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_GT(bestCorrelation(samplesOf(recorder.stop()), refB), 0.85);
}

TEST_F(AudioRecorderIT, AMicrophoneThatGoesAwayEndsTheCaptureAndNothingElseIsRecorded) {
    // A microphone of its own, unplugged halfway through the recording.
    auto module = pulse->pactl({"load-module", "module-remap-source", "master=micfeed2.monitor", "source_name=vgone"});
    ASSERT_TRUE(module);
    module->erase(module->find_last_not_of(" \n") + 1);
    AppSettings::shared().setInputDeviceUID("vgone");
    AudioRecorder recorder(input);
    int lost = 0;
    recorder.onSourceLost = [&] { ++lost; };
    recorder.start();
    ASSERT_TRUE(pulse->play(clipA, "micfeed2"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(pulse->pactl({"unload-module", *module}));
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (lost == 0 && Clock::now() < deadline) {
        test::fakes().scheduler.runPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(lost, 1) << "the end of the capture was not reported";

    // Neither the default microphone nor the speakers' monitor takes over.
    ASSERT_TRUE(pulse->play(clipB, "micfeed"));
    ASSERT_TRUE(pulse->play(clipB, "spk"));
    const auto samples = samplesOf(recorder.stop());
    EXPECT_GT(bestCorrelation(samples, refA), 0.85) << "what was said before is kept";
    EXPECT_LT(bestCorrelation(samples, refB), 0.4) << "another source was recorded";
    test::fakes().scheduler.runPending();
    EXPECT_EQ(lost, 1);
}

TEST_F(AudioRecorderIT, PauseOtherAudioMutesTheDefaultSinkWhileRecording) {
    AppSettings::shared().setPauseOtherAudio(true);
    AudioRecorder recorder(input);

    recorder.start();
    EXPECT_EQ(pulse->sinkMuted(), true);
    recorder.stop();
    EXPECT_EQ(pulse->sinkMuted(), false);

    ASSERT_TRUE(pulse->setSinkMuted(true));
    recorder.start();
    recorder.stop();
    EXPECT_EQ(pulse->sinkMuted(), true) << "a sink the user had muted must stay muted";
    ASSERT_TRUE(pulse->setSinkMuted(false));

    // Only a monitor left as the default source: no usable input, and the speakers come back.
    ASSERT_TRUE(pulse->setDefaultSource("spk.monitor"));
    try {
        recorder.start();
        ADD_FAILURE() << "recorded from a monitor";
    } catch (const AppError& e) {
        EXPECT_EQ(e.code(), 1);
        EXPECT_EQ(e.domain(), "Wendaro");
        EXPECT_STREQ(e.what(), "No input device");
    }
    EXPECT_EQ(pulse->sinkMuted(), false);

    // The next start after the failed one records.
    ASSERT_TRUE(pulse->setDefaultSource("vmic"));
    recorder.start();
    EXPECT_EQ(pulse->sinkMuted(), true);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string image = recorder.stop();
    EXPECT_GT(image.size(), 44u + 8000u);
    EXPECT_EQ(pulse->sinkMuted(), false);
}

}  // namespace
