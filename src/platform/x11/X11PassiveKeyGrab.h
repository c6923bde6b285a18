// One key taken on the root window under every modifier combination (Shift, Caps Lock, Control,
// Mod1 to Mod5 and all their mixes) that no other client holds already: while taken, its presses
// go to the grabbing connection instead of the focused window.
#pragma once

struct _XDisplay;

namespace platform {

class X11PassiveKeyGrab {
public:
    enum class Taken { none, some, all };

    X11PassiveKeyGrab() = default;
    ~X11PassiveKeyGrab();
    X11PassiveKeyGrab(const X11PassiveKeyGrab&) = delete;
    X11PassiveKeyGrab& operator=(const X11PassiveKeyGrab&) = delete;

    // Takes `keycode` on `display`. With `requireBare`, nothing at all is taken when another
    // client holds the key without modifiers (under any lock). A grab held already is released
    // first.
    Taken grab(_XDisplay* display, int keycode, bool requireBare);
    // Lets go of every combination taken; harmless when none is.
    void release();

    int keycode() const { return keycode_; }
    // Every combination is ours.
    bool complete() const { return keycode_ != 0 && complete_; }

private:
    _XDisplay* display_ = nullptr;
    int keycode_ = 0;
    bool complete_ = false;
};

}  // namespace platform
