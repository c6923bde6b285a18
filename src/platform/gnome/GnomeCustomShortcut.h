// The last resort for the push-to-talk key on GNOME: a custom keyboard shortcut in GNOME's own
// settings that runs `tovrin --toggle`. GNOME runs it on the press alone, so it gives hands-free
// (tap) recording only. Ours is one entry under a path of its own; the user's other shortcuts are
// never touched.
#pragma once

#include <string>

namespace platform {

class GnomeCustomShortcut {
public:
    // Whether GNOME's media-keys settings exist on this system.
    static bool available();
    // Adds our entry (or updates it) with `binding` in GNOME's syntax (e.g. "Menu") and `command`.
    static bool add(const std::string& binding, const std::string& command);
    // Removes our entry; true when none is left.
    static bool remove();
    // Our entry is in GNOME's list.
    static bool present();

    // GNOME binds no lone modifier: the trigger for one of our stored key codes, or empty.
    static std::string bindingForKeyCode(int keyCode);
};

}  // namespace platform
