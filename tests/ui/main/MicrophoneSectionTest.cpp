// The microphone group: the list read from the sound server when the group comes on screen or
// on refresh, the choice written as the device's UID, and the device in effect.
#include "state/AppSettings.h"
#include "platform/FakeSoundServer.h"
#include "support/Child.h"
#include "support/TestEnvironment.h"
#include "ui/main/MicrophoneSection.h"

#include <QComboBox>
#include <QLabel>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class MicrophoneSectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        server.setSources({
            {0, "alsa_output.monitor", "Monitor of Speakers", 2, true},
            {3, "usb-headset", "Headset", 1, false},
            {2, "builtin-mic", "Built-in Microphone", 2, false},
            {7, "usb-headset-2", "Headset", 1, false},
        });
        platform::SoundServer::setShared(&server);
    }
    void TearDown() override { platform::SoundServer::setShared(nullptr); }

    std::vector<QString> options(const MicrophoneSection& s) const {
        std::vector<QString> out;
        for (int i = 0; i < test::child<QComboBox>(s, "inputPicker")->count(); ++i)
            out.push_back(test::child<QComboBox>(s, "inputPicker")->itemText(i) + "=" + test::child<QComboBox>(s, "inputPicker")->itemData(i).toString());
        return out;
    }

    platform::FakeSoundServer server;
};

TEST_F(MicrophoneSectionTest, DevicesAreListedWhenShownAndTheChoiceIsStoredAsItsUID) {
    MicrophoneSection section;
    EXPECT_TRUE(section.devices().empty()) << "built with an empty list";
    section.show();
    EXPECT_EQ(options(section), (std::vector<QString>{"System Default=", "Headset=usb-headset",
                                                      "Built-in Microphone=builtin-mic", "Headset=usb-headset-2"}));
    EXPECT_EQ(test::child<QComboBox>(section, "inputPicker")->currentIndex(), 0);
    EXPECT_EQ(test::child<QLabel>(section, "activeInput")->text(), "Active: System Default");
    EXPECT_EQ(test::child<QToolButton>(section, "refreshDevices")->toolTip(), "Refresh device list");

    test::child<QComboBox>(section, "inputPicker")->setCurrentIndex(3);
    emit test::child<QComboBox>(section, "inputPicker")->activated(3);
    EXPECT_EQ(AppSettings::shared().inputDeviceUID(), "usb-headset-2");
    EXPECT_EQ(test::fakes().defaults.string("inputDeviceUID"), "usb-headset-2");
    EXPECT_EQ(test::child<QLabel>(section, "activeInput")->text(), "Active: Headset");

    test::child<QComboBox>(section, "inputPicker")->setCurrentIndex(0);
    emit test::child<QComboBox>(section, "inputPicker")->activated(0);
    EXPECT_EQ(AppSettings::shared().inputDeviceUID(), "");
    EXPECT_EQ(test::child<QLabel>(section, "activeInput")->text(), "Active: System Default");
}

TEST_F(MicrophoneSectionTest, AnUnpluggedDeviceHasNoOptionAndANewOneWaitsForRefresh) {
    AppSettings::shared().setInputDeviceUID("usb-headset");
    MicrophoneSection section;
    section.show();
    EXPECT_EQ(test::child<QComboBox>(section, "inputPicker")->currentIndex(), 1);
    EXPECT_EQ(test::child<QLabel>(section, "activeInput")->text(), "Active: Headset");

    // Unplugged while the page is open: nothing changes until the list is read again.
    server.setSources({{2, "builtin-mic", "Built-in Microphone", 2, false}});
    EXPECT_EQ(test::child<QComboBox>(section, "inputPicker")->count(), 4);
    test::child<QToolButton>(section, "refreshDevices")->click();
    EXPECT_EQ(test::child<QComboBox>(section, "inputPicker")->count(), 2);
    EXPECT_EQ(test::child<QComboBox>(section, "inputPicker")->currentIndex(), -1) << "no option for the stored device";
    EXPECT_EQ(test::child<QLabel>(section, "activeInput")->text(), "Active: System Default");
    EXPECT_EQ(AppSettings::shared().inputDeviceUID(), "usb-headset") << "a refresh never changes the setting";

    // Plugged in again: listed once the group comes on screen again.
    server.setSources({{2, "builtin-mic", "Built-in Microphone", 2, false}, {9, "usb-headset", "Headset", 1, false}});
    section.hide();
    section.show();
    EXPECT_EQ(test::child<QComboBox>(section, "inputPicker")->currentIndex(), 2);
    EXPECT_EQ(test::child<QLabel>(section, "activeInput")->text(), "Active: Headset");
}

}  // namespace
