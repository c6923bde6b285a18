// The paste chord through zwp_virtual_keyboard_v1 (wlroots compositors): Control+V, or
// Control+Shift+V when the active window belongs to a terminal emulator (by its app_id).
//
// The keyboard carries a full keymap of its own, uploaded once; the compositor and the programs
// are given a moment to take it in before the first chord (a chord sent with a keymap that has
// just arrived is missed by some programs). Its keys carry only its own modifiers, so a key the
// user holds on the real keyboard does not join the chord, and it leaves none of its own down.
#pragma once

#include "platform/KeySynth.h"
#include "platform/Scheduler.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct zwp_virtual_keyboard_v1;

namespace platform {

class WaylandConnection;

class VirtualKeyboardKeySynth : public KeySynth {
public:
    // Creates the keyboard and uploads its keymap at once; `settle` is the time (on the main
    // scheduler) given to take it in.
    explicit VirtualKeyboardKeySynth(WaylandConnection& connection, double settle = 0.15);
    ~VirtualKeyboardKeySynth() override;
    VirtualKeyboardKeySynth(const VirtualKeyboardKeySynth&) = delete;
    VirtualKeyboardKeySynth& operator=(const VirtualKeyboardKeySynth&) = delete;

    bool ok() const { return keyboard_ != nullptr; }
    // Sends the chord; one asked for while the keymap settles goes out when it has.
    bool paste() override;
    // The active window belongs to a terminal: the paste then turns line breaks into spaces.
    bool targetIsTerminal() const override;

private:
    void sendChord(bool terminal);
    void key(unsigned evdevCode, bool down);

    WaylandConnection& connection_;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    unsigned control_ = 0, shift_ = 0, v_ = 0;  // evdev key codes
    bool settled_ = false;
    bool chordWaiting_ = false, waitingForTerminal_ = false;
    TimerHandle settleTimer_;
};

}  // namespace platform
