// The paste chord on X11 through XTest, sent with no other modifier in effect: Control+V, or
// Control+Shift+V when the focused window belongs to a terminal emulator (by its WM_CLASS).
#pragma once

#include "platform/KeySynth.h"

#include <string>
#include <vector>

struct _XDisplay;

namespace platform {

class X11KeySynth : public KeySynth {
public:
    // `display` is the application's own connection (used on the main thread only).
    // `releaseWait` bounds how long paste() waits for a modifier that XTest could not release.
    explicit X11KeySynth(_XDisplay* display, double releaseWait = 0.3);

    // Releases every modifier key held at this moment (a push-to-talk key that ended a recording
    // on key-down may still be down, and Super, Alt or Shift would turn the chord into another
    // shortcut), then sends the chord: Control_L down, (Shift_L down,) v down, v up, (Shift_L up,)
    // Control_L up.
    // The released keys are not pressed again: to a key monitor that would look like a new press
    // of the push-to-talk key.
    bool paste() override;
    bool targetIsTerminal() const override;

    // The modifier keys (other than Control) that are down now, as X key numbers.
    std::vector<int> heldModifiers() const;

    // Whether a window of this WM_CLASS (instance and class name) is a terminal emulator, whose
    // paste chord is Control+Shift+V.
    static bool isTerminal(const std::string& instance, const std::string& className);
    // The WM_CLASS (instance, class name) of the top-level window that has the keyboard focus;
    // empty when none can be found.
    std::pair<std::string, std::string> focusedWindowClass() const;

private:
    _XDisplay* display_;
    double releaseWait_;
};

}  // namespace platform
