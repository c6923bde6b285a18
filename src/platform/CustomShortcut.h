// A keyboard shortcut of our own in the desktop's settings that runs a command of ours: the last
// way for the key to reach us where the desktop shows us no key at all (GNOME on Wayland without
// the GlobalShortcuts portal and without access to the input devices). The desktop runs the
// command on the press alone, so it serves tap (hands-free) recording only. Only our own entry is
// ever added, changed or removed; the user's other shortcuts are never touched.
#pragma once

#include "platform/ServiceSlot.h"

#include <string>

namespace platform {

class CustomShortcut {
public:
    virtual ~CustomShortcut() = default;

    // Whether the desktop's settings can take our shortcut.
    virtual bool available() = 0;
    // Our shortcut is in the desktop's settings.
    virtual bool installed() = 0;
    // Adds our shortcut, or updates it, to run `command` on the key `keyCode` (one of the stored
    // push-to-talk codes). False when the desktop cannot bind that key alone or the settings
    // refused the change.
    virtual bool install(int keyCode, const std::string& command) = 0;
    // Removes our shortcut. True when none of ours is left.
    virtual bool remove() = 0;

    static CustomShortcut& shared() { return ServiceSlot<CustomShortcut>::get(); }
    static void setShared(CustomShortcut* p) { ServiceSlot<CustomShortcut>::set(p); }
    static bool isInstalled() { return ServiceSlot<CustomShortcut>::isSet(); }
};

}  // namespace platform
