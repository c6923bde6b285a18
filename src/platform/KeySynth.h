// Synthetic key presses for other applications.
#pragma once

#include "platform/ServiceSlot.h"

namespace platform {

class KeySynth {
public:
    virtual ~KeySynth() = default;
    // Sends the focused window's paste chord (Control+V; Control+Shift+V in a terminal emulator)
    // to it, with no other modifier in effect. False when the chord could not be sent.
    virtual bool paste() = 0;
    // Whether the focused window is a terminal emulator, where a pasted line break runs a command.
    virtual bool targetIsTerminal() const { return false; }

    static KeySynth& shared() { return ServiceSlot<KeySynth>::get(); }
    static void setShared(KeySynth* p) { ServiceSlot<KeySynth>::set(p); }
};

}  // namespace platform
