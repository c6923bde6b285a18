// The desktop's current keymap as the key events need it: for each X key number, the stored key
// code, whether it is a modifier key, and the modifier flag it holds. Rebuilt whenever the keymap
// or the active layout changes.
#pragma once

#include <array>
#include <cstdint>

struct _XDisplay;

namespace platform {

class X11KeyMap {
public:
    struct Key {
        int code = 0;             // stored key code
        bool isModifier = false;  // reported as a flags change rather than a key press
        std::uint64_t flag = 0;   // the modifier flag it holds while down
    };

    // Reads the keymap of `display` for the layout (group) in effect.
    void load(_XDisplay* display);
    // Asks `display` for the keyboard extension's notices of keymap replacements and layout
    // switches (the key that carries a code may move), then reads the keymap.
    void follow(_XDisplay* display);
    // Switches to another layout of the same keymap.
    void setGroup(_XDisplay* display, int group);

    const Key& key(int xKeycode) const;
    // Whether the keymap has a real Fn key; without one the Menu key stands in for it.
    bool hasFnKey() const { return hasFn_; }

    // What one key symbol means, given whether the keymap has a real Fn key.
    static Key describe(unsigned long keysym, bool hasFnKey, int xKeycode);

private:
    void rebuild(_XDisplay* display);

    std::array<Key, 256> keys_{};
    int group_ = 0;
    bool hasFn_ = false;
};

}  // namespace platform
