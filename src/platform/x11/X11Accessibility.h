// Trust on X11: the display must offer synthetic input (XTest) and global key events (XInput2).
#pragma once

#include "platform/Accessibility.h"

namespace platform {

class X11Accessibility : public Accessibility {
public:
    bool isTrusted(bool prompt) override;
};

}  // namespace platform
