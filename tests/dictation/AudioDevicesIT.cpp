// Device listing, the output mute switch, the microphone permission and the feedback sounds
// against a real PulseAudio daemon, and what is left of them when the daemon goes away.
#include "state/AppError.h"
#include "dictation/AudioDevices.h"
#include "dictation/AudioRecorder.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/pulse/PulseMicPermission.h"
#include "platform/pulse/PulseSoundServer.h"
#include "platform/pulse/PulseSounds.h"
#include "support/PulseServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Listed {
    std::uint32_t index;
    std::string name;
};

// "pactl list sources short": index, name, driver, format, state per line.
std::vector<Listed> pactlSources(const test::PulseServer& pulse) {
    std::vector<Listed> out;
    std::istringstream in(pulse.pactl({"list", "sources", "short"}).value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Listed l;
        if (fields >> l.index >> l.name) out.push_back(l);
    }
    return out;
}

class AudioDevicesIT : public ::testing::Test {
protected:
    void SetUp() override {
        test::PulseServer::Options options;
        options.extraMics.push_back({"micfeed2", "vmic2", "Second Microphone", 44100, 1});
        options.warmUp = false;
        pulse = std::make_unique<test::PulseServer>(options);
        ASSERT_TRUE(pulse->start()) << pulse->error();
        server = std::make_unique<platform::PulseSoundServer>();
        platform::SoundServer::setShared(server.get());
    }
    void TearDown() override { platform::SoundServer::setShared(nullptr); }

    std::unique_ptr<test::PulseServer> pulse;
    std::unique_ptr<platform::PulseSoundServer> server;
};

TEST_F(AudioDevicesIT, ListsMicrophonesButNotMonitorsWithServerIdsAndNames) {
    auto listed = pactlSources(*pulse);
    ASSERT_GE(listed.size(), 5u);  // three monitors and two microphones

    std::vector<AudioDevice> expected;
    for (const auto& l : listed) {
        if (l.name == "vmic") expected.push_back({l.index, "vmic", "Virtual Microphone"});
        if (l.name == "vmic2") expected.push_back({l.index, "vmic2", "Second Microphone"});
    }
    EXPECT_EQ(AudioDevices::inputs(), expected);

    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(AudioDevices::deviceID("vmic2"), expected[1].id);
    EXPECT_EQ(AudioDevices::deviceID("VMIC2"), std::nullopt);
    EXPECT_EQ(AudioDevices::deviceID("micfeed.monitor"), std::nullopt);

    // A microphone that appears later is listed on the next call (nothing is cached).
    ASSERT_TRUE(pulse->pactl({"load-module", "module-null-sink", "sink_name=late"}));
    ASSERT_TRUE(pulse->pactl({"load-module", "module-remap-source", "master=late.monitor", "source_name=latemic"}));
    EXPECT_TRUE(AudioDevices::deviceID("latemic").has_value());
}

TEST_F(AudioDevicesIT, MuteSwitchOfTheDefaultSink) {
    EXPECT_FALSE(AudioDevices::outputMuted());
    AudioDevices::setOutputMuted(true);
    EXPECT_EQ(pulse->sinkMuted("spk"), true);
    EXPECT_TRUE(AudioDevices::outputMuted());
    AudioDevices::setOutputMuted(false);
    EXPECT_EQ(pulse->sinkMuted("spk"), false);

    // The switch follows the default sink.
    ASSERT_TRUE(pulse->pactl({"set-default-sink", "micfeed2"}));
    ASSERT_TRUE(pulse->setSinkMuted(true, "micfeed2"));
    EXPECT_TRUE(AudioDevices::outputMuted());
    EXPECT_EQ(pulse->sinkMuted("spk"), false);
}

TEST_F(AudioDevicesIT, GoneServerReadsAsNothingThere) {
    platform::PulseMicPermission permission(*server);
    EXPECT_EQ(permission.status(), platform::MicAuthorization::authorized);
    ASSERT_FALSE(AudioDevices::inputs().empty());

    pulse->stop();
    EXPECT_TRUE(AudioDevices::inputs().empty());
    EXPECT_EQ(AudioDevices::deviceID("vmic"), std::nullopt);
    EXPECT_FALSE(AudioDevices::outputMuted());
    AudioDevices::setOutputMuted(true);
    EXPECT_EQ(permission.status(), platform::MicAuthorization::denied);

    platform::PulseAudioInput input;
    AudioRecorder recorder(&input);
    try {
        recorder.start();
        ADD_FAILURE() << "recording without a server";
    } catch (const AppError& e) {
        EXPECT_EQ(e.code(), 1);
    }

    // A server that comes back is found again.
    ASSERT_TRUE(pulse->start()) << pulse->error();
    EXPECT_FALSE(AudioDevices::inputs().empty());
    EXPECT_EQ(permission.status(), platform::MicAuthorization::authorized);
}

TEST_F(AudioDevicesIT, HungServerIsGivenUpOnAndFoundAgainLater) {
    platform::PulseAudioInput input;
    ASSERT_FALSE(AudioDevices::inputs().empty());
    ASSERT_GT(input.sourceFormat("").sampleRate, 0);

    pulse->freeze(true);
    EXPECT_TRUE(AudioDevices::inputs().empty());
    EXPECT_FALSE(AudioDevices::outputMuted());
    AudioDevices::setOutputMuted(true);
    AudioRecorder recorder(&input);
    EXPECT_THROW(recorder.start(), AppError);
    EXPECT_FALSE(recorder.isRecording());
    pulse->freeze(false);

    std::this_thread::sleep_for(std::chrono::duration<double>(platform::PulseConnection::kStallBackoff + 0.2));
    EXPECT_FALSE(AudioDevices::inputs().empty());
    EXPECT_EQ(pulse->sinkMuted(), false);
    recorder.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_GT(recorder.stop().size(), 44u);
}

TEST_F(AudioDevicesIT, FeedbackSoundsPlayOnTheDefaultSink) {
    platform::PulseSounds sounds(std::string(TOVRIN_SOURCE_DIR) + "/resources/sounds");
    const std::string captured = pulse->folder() + "/spk.raw";
    pid_t reader = pulse->spawn({"parec", "--device=spk.monitor", "--raw", "--format=s16le", "--rate=44100",
                                 "--channels=1"},
                                captured);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sounds.play("../sounds/Tink");  // not a sound name: ignored
    sounds.play("Nonexistent");
    sounds.play("Pop");
    sounds.play("Basso");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    test::PulseServer::stopProcess(reader);

    std::ifstream in(captured, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int peak = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        int s = static_cast<short>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
        peak = std::max(peak, std::abs(s));
    }
    EXPECT_GT(peak, 3000) << "nothing was heard on the speakers (" << bytes.size() << " bytes captured)";
}

}  // namespace
