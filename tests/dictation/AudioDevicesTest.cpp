#include "dictation/AudioDevices.h"
#include "platform/FakeSoundServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace {

class AudioDevicesTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SoundServer::setShared(&server); }
    void TearDown() override { platform::SoundServer::setShared(nullptr); }
    platform::FakeSoundServer server;
};

TEST_F(AudioDevicesTest, ListsRecordingSourcesInServerOrder) {
    server.setSources({
        {0, "alsa_output.pci.analog-stereo.monitor", "Monitor of Built-in Audio", 2, true},
        {3, "usb-headset", "USB Headset", 1, false},
        {1, "broken", "Source without channels", 0, false},
        {5, "", "Nameless", 2, false},
        {2, "alsa_input.pci.analog-stereo", "Built-in Audio", 2, false},
    });
    std::vector<AudioDevice> expected{{3, "usb-headset", "USB Headset"},
                                      {2, "alsa_input.pci.analog-stereo", "Built-in Audio"}};
    EXPECT_EQ(AudioDevices::inputs(), expected);

    EXPECT_EQ(AudioDevices::deviceID("usb-headset"), 3u);
    EXPECT_EQ(AudioDevices::deviceID("USB-HEADSET"), std::nullopt);
    EXPECT_EQ(AudioDevices::deviceID("alsa_output.pci.analog-stereo.monitor"), std::nullopt);
    EXPECT_EQ(AudioDevices::deviceID(""), std::nullopt);

    std::unordered_set<AudioDevice> set(expected.begin(), expected.end());
    EXPECT_EQ(set.size(), 2u);
    EXPECT_NE((AudioDevice{3, "usb-headset", "USB Headset"}), (AudioDevice{3, "usb-headset", "Other"}));
}

TEST_F(AudioDevicesTest, OutputMuteFollowsTheDefaultSink) {
    EXPECT_FALSE(AudioDevices::outputMuted());
    AudioDevices::setOutputMuted(true);
    EXPECT_TRUE(server.muted());
    EXPECT_TRUE(AudioDevices::outputMuted());
    AudioDevices::setOutputMuted(false);
    EXPECT_FALSE(AudioDevices::outputMuted());
}

TEST_F(AudioDevicesTest, FailuresReadAsNotThere) {
    server.setSources({{1, "mic", "Mic", 1, false}});
    server.setMuted(true);

    server.setHasDefaultSink(false);
    EXPECT_FALSE(AudioDevices::outputMuted());
    AudioDevices::setOutputMuted(false);  // no sink: nothing happens, nothing thrown
    EXPECT_TRUE(server.muted());

    server.setAvailable(false);
    EXPECT_TRUE(AudioDevices::inputs().empty());
    EXPECT_EQ(AudioDevices::deviceID("mic"), std::nullopt);
    EXPECT_FALSE(AudioDevices::outputMuted());

    platform::SoundServer::setShared(nullptr);
    EXPECT_TRUE(AudioDevices::inputs().empty());
    EXPECT_FALSE(AudioDevices::outputMuted());
    AudioDevices::setOutputMuted(true);
}

}  // namespace
