#include "state/AppError.h"
#include "state/AppSettings.h"
#include "dictation/AudioRecorder.h"
#include "platform/FakeAudioInput.h"
#include "platform/FakeSoundServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

std::uint32_t le32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

std::uint16_t le16(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}

// A square wave of the given amplitude: its rms equals the amplitude.
std::vector<std::int16_t> square(std::size_t n, std::int16_t amplitude) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = (i % 2) ? amplitude : static_cast<std::int16_t>(-amplitude);
    return v;
}

class AudioRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        server.setSources({
            {0, "spk.monitor", "Monitor of Speakers", 2, true},
            {1, "usb-mic", "USB Microphone", 1, false},
            {2, "vmic", "Virtual Microphone", 2, false},
        });
        platform::SoundServer::setShared(&server);
        input.setFormat("", {"vmic", 48000, 2, false});
        input.setFormat("usb-mic", {"usb-mic", 44100, 1, false});
    }
    void TearDown() override { platform::SoundServer::setShared(nullptr); }

    std::vector<float> levels() {
        test::fakes().scheduler.runPending();
        return seen;
    }
    void listen(AudioRecorder& r) {
        r.onLevel = [this](float v) { seen.push_back(v); };
    }

    platform::FakeSoundServer server;
    platform::FakeAudioInput input;
    std::vector<float> seen;
};

TEST_F(AudioRecorderTest, WavImageHeaderForEmptyAndNonEmptyRecordings) {
    AudioRecorder r(&input);
    r.start();
    std::string empty = r.stop();
    ASSERT_EQ(empty.size(), 44u);
    EXPECT_EQ(empty.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(empty, 4), 36u);
    EXPECT_EQ(empty.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(empty, 16), 16u);
    EXPECT_EQ(le16(empty, 20), 1u);
    EXPECT_EQ(le16(empty, 22), 1u);
    EXPECT_EQ(le32(empty, 24), 16000u);
    EXPECT_EQ(le32(empty, 28), 32000u);
    EXPECT_EQ(le16(empty, 32), 2u);
    EXPECT_EQ(le16(empty, 34), 16u);
    EXPECT_EQ(empty.substr(36, 4), "data");
    EXPECT_EQ(le32(empty, 40), 0u);

    std::string pcm("\x01\x02\x03\x04\xff\x7f", 6);
    std::string image = AudioRecorder::wav(pcm);
    ASSERT_EQ(image.size(), 50u);
    EXPECT_EQ(le32(image, 4), 42u);
    EXPECT_EQ(le32(image, 40), 6u);
    EXPECT_EQ(image.substr(44), pcm);
}

TEST_F(AudioRecorderTest, KeepsCapturedSamplesInOrderAndStartsEachRecordingEmpty) {
    AudioRecorder r(&input);
    r.start();
    EXPECT_TRUE(r.isRecording());
    ASSERT_TRUE(input.deliver({1, -2, 300}));
    ASSERT_TRUE(input.deliver({-32768, 32767}));
    input.setTail({7});  // a partly filled block still arrives at stop
    std::string image = r.stop();
    EXPECT_FALSE(r.isRecording());
    EXPECT_FALSE(input.running());
    ASSERT_EQ(image.size(), 44u + 12u);
    std::vector<std::int16_t> got(6);
    std::memcpy(got.data(), image.data() + 44, 12);
    EXPECT_EQ(got, (std::vector<std::int16_t>{1, -2, 300, -32768, 32767, 7}));

    // Blocks of about 4096 frames of the source's rate, counted at 16 kHz.
    EXPECT_EQ(input.startedBlockFrames(), 1365u);

    r.start();
    input.deliver({5, 5});
    r.cancel();
    EXPECT_FALSE(input.running());
    r.start();
    EXPECT_EQ(r.stop().size(), 44u);  // neither the cancelled audio nor the previous take
}

TEST_F(AudioRecorderTest, CapturesFromAnotherThreadWhileTheCallerStops) {
    AudioRecorder r(&input);
    r.start();
    std::thread feeder([this] {
        std::vector<std::int16_t> block(160, 1000);
        while (input.deliver(block)) {
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string image = r.stop();
    feeder.join();
    EXPECT_EQ((image.size() - 44) % 2, 0u);
    EXPECT_GT(image.size(), 44u);
}

TEST_F(AudioRecorderTest, LevelRuleAndSmoothing) {
    EXPECT_NEAR(AudioRecorder::inputLevel(square(1024, 3277)), 0.6f, 1e-3);  // rms 0.1
    EXPECT_FLOAT_EQ(AudioRecorder::inputLevel(square(1024, 8000)), 1.0f);   // rms above 1/6
    EXPECT_FLOAT_EQ(AudioRecorder::inputLevel({}), 0.0f);

    AudioRecorder r(&input);
    listen(r);
    r.start();
    input.deliver(square(1365, 32767));
    input.deliver(square(1365, 32767));
    input.deliver(std::vector<std::int16_t>(1365, 0));
    EXPECT_TRUE(seen.empty()) << "levels arrive through the main queue only";
    auto v = levels();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_NEAR(v[0], 0.6f, 1e-5);
    EXPECT_NEAR(v[1], 0.84f, 1e-5);
    EXPECT_NEAR(v[2], 0.672f, 1e-5);
    r.stop();
}

TEST_F(AudioRecorderTest, ChosenDeviceOrDefault) {
    AudioRecorder r(&input);
    AppSettings::shared().setInputDeviceUID("usb-mic");
    r.start();
    EXPECT_EQ(input.startedSource(), "usb-mic");
    EXPECT_EQ(input.startedBlockFrames(), 1486u);  // 4096 frames at 44.1 kHz
    r.stop();

    // Matching is exact, and an unplugged device keeps the default.
    for (std::string uid : {"USB-MIC", "gone-mic", "spk.monitor"}) {
        AppSettings::shared().setInputDeviceUID(uid);
        r.start();
        EXPECT_EQ(input.startedSource(), "") << uid;
        r.stop();
    }
}

TEST_F(AudioRecorderTest, NoUsableSourceFailsCleanly) {
    AudioRecorder r(&input);
    for (auto format : {platform::AudioSourceFormat{}, platform::AudioSourceFormat{"x", 48000, 0, false},
                        platform::AudioSourceFormat{"spk.monitor", 44100, 2, true}}) {
        input.setFormat("", format);
        try {
            r.start();
            FAIL() << "started without a usable source";
        } catch (const AppError& e) {
            EXPECT_EQ(e.code(), 1);
            EXPECT_EQ(e.domain(), "Wendaro");
            EXPECT_STREQ(e.what(), "No input device");
        }
        EXPECT_FALSE(r.isRecording());
        EXPECT_EQ(input.starts(), 0);
    }
    // Nothing was left behind: the next start works.
    input.setFormat("", {"vmic", 48000, 2, false});
    r.start();
    EXPECT_TRUE(input.running());
    r.stop();

    // Without any capture service there is no input either.
    AudioRecorder orphan;
    EXPECT_THROW(orphan.start(), AppError);
}

TEST_F(AudioRecorderTest, SoundServerErrorPassesThroughAndLeavesNothingRunning) {
    AudioRecorder r(&input);
    input.failNextStart({"PulseAudio", 6, "Cannot open the record stream: Timeout"});
    try {
        r.start();
        FAIL();
    } catch (const AppError& e) {
        EXPECT_EQ(e.domain(), "PulseAudio");
        EXPECT_EQ(e.code(), 6);
    }
    EXPECT_FALSE(r.isRecording());
    EXPECT_FALSE(input.running());
    r.start();
    EXPECT_TRUE(input.running());
    r.cancel();
}

TEST_F(AudioRecorderTest, PauseOtherAudioMutesOnlyWhatItMayRestore) {
    AppSettings::shared().setPauseOtherAudio(true);
    AudioRecorder r(&input);

    r.start();
    EXPECT_TRUE(server.muted());
    r.stop();
    EXPECT_FALSE(server.muted());

    r.start();
    r.cancel();
    EXPECT_FALSE(server.muted());

    // Already muted by the user: left alone, and not unmuted afterwards.
    server.setMuted(true);
    int writes = server.muteWrites();
    r.start();
    r.stop();
    EXPECT_TRUE(server.muted());
    EXPECT_EQ(server.muteWrites(), writes);
    server.setMuted(false);

    // Failed starts give the speakers back.
    input.setFormat("", {});
    EXPECT_THROW(r.start(), AppError);
    EXPECT_FALSE(server.muted());
    input.setFormat("", {"vmic", 48000, 2, false});
    input.failNextStart({"PulseAudio", 3, "refused"});
    EXPECT_THROW(r.start(), AppError);
    EXPECT_FALSE(server.muted());

    // A second start while recording does not forget that this recorder muted the output.
    r.start();
    r.start();
    EXPECT_TRUE(server.muted());
    r.stop();
    EXPECT_FALSE(server.muted());

    // Off: never touched.
    AppSettings::shared().setPauseOtherAudio(false);
    writes = server.muteWrites();
    r.start();
    r.stop();
    EXPECT_EQ(server.muteWrites(), writes);
}

TEST_F(AudioRecorderTest, DestroyingWhileRecordingStopsCaptureAndUnmutes) {
    AppSettings::shared().setPauseOtherAudio(true);
    {
        AudioRecorder r(&input);
        listen(r);
        r.start();
        input.deliver(square(100, 1000));
    }
    EXPECT_FALSE(input.running());
    EXPECT_FALSE(server.muted());
    EXPECT_EQ(levels().size(), 1u);  // a level already posted is still delivered, harmlessly
}

}  // namespace
