// The paste chord where this session offers no way to send keys to other programs: nothing is
// sent, and paste() says so, so the text is left on the clipboard and the user is told.
#pragma once

#include "platform/KeySynth.h"

namespace platform {

class ClipboardOnlyKeySynth : public KeySynth {
public:
    bool paste() override { return false; }
};

}  // namespace platform
