// The input-device key source fed `struct input_event` records through a pipe: which devices count
// as keyboards, press, repeat and release of the keys we map, a device gone mid-hold, an inactive
// session, and a device node we may not read.
#include "platform/evdev/EvdevKeyEvents.h"
#include "support/AsyncWait.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

using platform::EvdevKeyEvents;
namespace KeyCode = platform::KeyCode;
namespace KeyFlag = platform::KeyFlag;

namespace {

class EvdevKeyEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        writer_ = fds[1];
        keys_.adopt(fds[0]);
        keys_.addFlagsChangedMonitor(platform::KeyScope::global, [this](const platform::FlagsChangedEvent& e) {
            seen_.push_back("flags " + std::to_string(e.keyCode) + " " + std::to_string(e.flags));
        });
        keys_.addKeyDownMonitor(platform::KeyScope::global, [this](const platform::KeyDownEvent& e) {
            seen_.push_back("down " + std::to_string(e.keyCode) + (e.isRepeat ? " repeat" : ""));
        });
    }
    void TearDown() override {
        if (writer_ >= 0) close(writer_);
    }

    void send(std::vector<std::pair<int, int>> keys) {
        std::vector<input_event> events;
        for (auto [code, value] : keys) {
            events.push_back(input_event{{}, EV_KEY, static_cast<__u16>(code), value});
            events.push_back(input_event{{}, EV_SYN, SYN_REPORT, 0});
        }
        ASSERT_EQ(write(writer_, events.data(), events.size() * sizeof(input_event)),
                  static_cast<ssize_t>(events.size() * sizeof(input_event)));
        test::driveUntil([] { return false; }, 0.1);
    }

    static std::string flags(int code, std::uint64_t flags) {
        return "flags " + std::to_string(code) + " " + std::to_string(flags);
    }

    EvdevKeyEvents keys_{"/nonexistent"};
    int writer_ = -1;
    std::vector<std::string> seen_;
};

TEST(EvdevKeyboards, OnlyDevicesWithKeyEventsAndEveryLetterCount) {
    EvdevKeyEvents::KeyBits letters;
    for (int key = KEY_Q; key <= KEY_P; ++key) letters.set(key);
    for (int key = KEY_A; key <= KEY_L; ++key) letters.set(key);
    for (int key = KEY_Z; key <= KEY_M; ++key) letters.set(key);
    EXPECT_TRUE(EvdevKeyEvents::isKeyboard(true, letters));
    EXPECT_FALSE(EvdevKeyEvents::isKeyboard(false, letters));
    EvdevKeyEvents::KeyBits powerButton;
    powerButton.set(KEY_POWER);
    EXPECT_FALSE(EvdevKeyEvents::isKeyboard(true, powerButton));
}

TEST_F(EvdevKeyEventsTest, MappedKeysPressRepeatAndRelease) {
    send({{KEY_COMPOSE, 1}, {KEY_COMPOSE, 2}, {KEY_COMPOSE, 0}});
    send({{KEY_RIGHTCTRL, 1}, {KEY_RIGHTALT, 1}, {KEY_RIGHTALT, 0}, {KEY_RIGHTCTRL, 0}});
    send({{KEY_RIGHTMETA, 1}, {KEY_RIGHTMETA, 0}});
    send({{KEY_ESC, 1}, {KEY_ESC, 2}, {KEY_ESC, 0}});
    EXPECT_EQ(seen_, (std::vector<std::string>{
                         flags(KeyCode::function, KeyFlag::function), flags(KeyCode::function, 0),
                         flags(KeyCode::rightControl, KeyFlag::control),
                         flags(KeyCode::rightOption, KeyFlag::control | KeyFlag::option),
                         flags(KeyCode::rightOption, KeyFlag::control), flags(KeyCode::rightControl, 0),
                         flags(KeyCode::rightCommand, KeyFlag::command), flags(KeyCode::rightCommand, 0),
                         "down 53", "down 53 repeat"}));
}

TEST_F(EvdevKeyEventsTest, ADeviceGoneMidHoldReleasesWhatItHeld) {
    send({{KEY_RIGHTCTRL, 1}});
    close(writer_);
    writer_ = -1;
    test::driveUntil([&] { return seen_.size() == 2; }, 5);
    EXPECT_EQ(seen_, (std::vector<std::string>{flags(KeyCode::rightControl, KeyFlag::control),
                                               flags(KeyCode::rightControl, 0)}));
    EXPECT_EQ(keys_.keyboards(), 0);
}

TEST_F(EvdevKeyEventsTest, PressesInAnInactiveSessionAreDroppedButReleasesAreNot) {
    bool active = true;
    keys_.sessionActive = [&] { return active; };
    send({{KEY_COMPOSE, 1}});
    active = false;
    send({{KEY_RIGHTCTRL, 1}, {KEY_RIGHTCTRL, 0}, {KEY_COMPOSE, 0}});
    EXPECT_EQ(seen_, (std::vector<std::string>{flags(KeyCode::function, KeyFlag::function),
                                               flags(KeyCode::function, 0)}));
}

TEST(EvdevDevices, ANodeWeMayNotReadIsReported) {
    test::TempFolder folder;
    const std::string node = folder.write("event7", "");
    chmod(node.c_str(), 0600);
    chmod(folder.path().c_str(), 0755);
    // Root reads every node: look as another user for the while.
    const bool root = geteuid() == 0;
    if (root) {
        chown(node.c_str(), 0, 0);
        ASSERT_EQ(seteuid(65534), 0);
    } else {
        chmod(node.c_str(), 0);
    }
    EvdevKeyEvents keys(folder.path());
    const bool started = keys.start();
    if (root) ASSERT_EQ(seteuid(0), 0);
    EXPECT_FALSE(started);
    EXPECT_TRUE(keys.accessDenied());
}

}  // namespace
