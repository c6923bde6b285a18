// Global key events, the way the key monitor needs them: modifier changes ("flags changed") and key
// presses, each reported to the monitors of one scope. Global monitors see keys that go to other
// programs; local monitors see keys that go to one of our own windows. Key codes and modifier
// flags carry the stored (macOS) values, so settings need no translation.
#pragma once

#include "platform/ServiceSlot.h"

#include <cstdint>
#include <functional>

namespace platform {

// Modifier flag bits.
namespace KeyFlag {
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t function = 0x800000;
}  // namespace KeyFlag

// Stored key codes of the keys the program knows by name.
namespace KeyCode {
inline constexpr int v = 9;
inline constexpr int escape = 53;
inline constexpr int rightCommand = 54;
inline constexpr int leftCommand = 55;
inline constexpr int leftShift = 56;
inline constexpr int capsLock = 57;
inline constexpr int leftOption = 58;
inline constexpr int leftControl = 59;
inline constexpr int rightShift = 60;
inline constexpr int rightOption = 61;
inline constexpr int rightControl = 62;
inline constexpr int function = 63;
// Keys without a stored code of their own carry this base plus the desktop's key number, so
// they never collide with a code above.
inline constexpr int unnamedBase = 0x1000;
}  // namespace KeyCode

// A modifier key went down or up: its code and the modifier flags held after the change.
struct FlagsChangedEvent {
    int keyCode = 0;
    std::uint64_t flags = 0;
};

// A key other than a modifier went down (auto-repeats included).
struct KeyDownEvent {
    int keyCode = 0;
    bool isRepeat = false;
};

enum class KeyScope {
    global,  // keys that go to other programs
    local,   // keys that go to one of our own windows
};

class KeyEvents {
public:
    using FlagsHandler = std::function<void(const FlagsChangedEvent&)>;
    using KeyDownHandler = std::function<void(const KeyDownEvent&)>;

    virtual ~KeyEvents() = default;

    // Adds a monitor; handlers run on the main thread. Returns its token, or 0 when key events
    // cannot be read on this desktop (nothing is added then).
    virtual int addFlagsChangedMonitor(KeyScope scope, FlagsHandler handler) = 0;
    virtual int addKeyDownMonitor(KeyScope scope, KeyDownHandler handler) = 0;
    // Removes a monitor; unknown tokens and 0 are ignored. Safe from inside a handler.
    virtual void removeMonitor(int token) = 0;

    static KeyEvents& shared() { return ServiceSlot<KeyEvents>::get(); }
    static bool hasShared() { return ServiceSlot<KeyEvents>::isSet(); }
    static void setShared(KeyEvents* p) { ServiceSlot<KeyEvents>::set(p); }
};

}  // namespace platform
