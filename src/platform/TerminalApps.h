// The terminal emulators, whose paste chord is Control+Shift+V (Control+V types ^V there), known
// by the names their windows carry: the X11 WM_CLASS (instance or class) or the Wayland app_id.
#pragma once

#include <string>

namespace platform {

class TerminalApps {
public:
    // Whether a window of this name (compared without case) belongs to a terminal emulator.
    static bool contains(const std::string& name);
};

}  // namespace platform
