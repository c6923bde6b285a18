// The paste chord on X11: Control+V through XTest, sent with no other modifier in effect.
#pragma once

#include "platform/KeySynth.h"

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
    // shortcut), then sends Control_L down, v down, v up, Control_L up. The released keys are not
    // pressed again: to a key monitor that would look like a new press of the push-to-talk key.
    bool paste() override;

    // The modifier keys (other than Control) that are down now, as X key numbers.
    std::vector<int> heldModifiers() const;

private:
    _XDisplay* display_;
    double releaseWait_;
};

}  // namespace platform
