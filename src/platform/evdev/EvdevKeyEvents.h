// Key events read from the kernel's input devices (/dev/input/event*), for Wayland desktops that
// offer no other way to see the push-to-talk key (GNOME 43). Only keyboards are read (devices
// that report the letter keys), read-only and never grabbed: the compositor, and the focused
// program, still get every key. Devices that come and go are followed. Reading them needs
// membership of the `input` group; without it `accessDenied()` says so.
//
// Events carry the stored key codes and modifier flags, like every other key source. Presses are
// ignored while the session is not the active one (another user's, or locked); releases never
// are, so no key sticks.
#pragma once

#include "platform/KeyEvents.h"

#include <bitset>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

class QSocketNotifier;

namespace platform {

class EvdevKeyEvents : public KeyEvents {
public:
    // The kernel's key numbers the capability check needs (KEY_A … KEY_Z lie below this).
    static constexpr int kKeyBits = 768;
    using KeyBits = std::bitset<kKeyBits>;

    // `inputDir`: where the device nodes are (tests give a folder of their own).
    explicit EvdevKeyEvents(std::string inputDir = "/dev/input");
    ~EvdevKeyEvents() override;

    int addFlagsChangedMonitor(KeyScope scope, FlagsHandler handler) override;
    int addKeyDownMonitor(KeyScope scope, KeyDownHandler handler) override;
    void removeMonitor(int token) override;

    // Opens every keyboard present and starts following devices that appear. True when at least
    // one keyboard is read.
    bool start();
    // A device node existed that this user may not read.
    bool accessDenied() const { return accessDenied_; }
    int keyboards() const { return static_cast<int>(devices_.size()); }

    // Reads key events from `fd` (an opened device, or in tests any readable descriptor carrying
    // `struct input_event` records); the descriptor is owned from here on.
    void adopt(int fd, std::string path = {});

    // Whether presses count now (the session is the active, unlocked one, and no other source has
    // the key); presses are dropped while it says no.
    std::function<bool()> sessionActive;

    // A device is a keyboard when it reports key events and every letter key.
    static bool isKeyboard(bool hasKeyEvents, const KeyBits& keys);

private:
    struct Device {
        std::string path;
        std::unique_ptr<QSocketNotifier> notifier;
        std::set<int> down;  // kernel key numbers held on this device
    };
    struct Monitor {
        KeyScope scope;
        FlagsHandler flags;
        KeyDownHandler keyDown;
    };

    void openDevice(const std::string& path);
    void readDevice(int fd);
    void dropDevice(int fd);
    void key(int fd, int code, int value);
    std::uint64_t heldFlags() const;
    void dispatch(const FlagsChangedEvent* flags, const KeyDownEvent* keyDown);

    std::string inputDir_;
    bool accessDenied_ = false;
    int inotify_ = -1;
    std::unique_ptr<QSocketNotifier> hotplug_;
    std::map<int, Device> devices_;
    std::map<int, Monitor> monitors_;
    int nextToken_ = 1;
};

}  // namespace platform
