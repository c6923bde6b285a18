#include "platform/X11KeySynth.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <thread>

namespace platform {

X11KeySynth::X11KeySynth(_XDisplay* display, double releaseWait) : display_(display), releaseWait_(releaseWait) {}

std::vector<int> X11KeySynth::heldModifiers() const {
    std::vector<int> held;
    if (!display_) return held;
    char keys[32] = {};
    XQueryKeymap(display_, keys);
    XModifierKeymap* map = XGetModifierMapping(display_);
    if (!map) return held;
    for (int mod = 0; mod < 8; ++mod) {
        if (mod == ControlMapIndex) continue;  // Control is part of the chord
        for (int i = 0; i < map->max_keypermod; ++i) {
            const int code = map->modifiermap[mod * map->max_keypermod + i];
            if (code <= 0 || code > 255) continue;
            if (keys[code / 8] & (1 << (code % 8))) held.push_back(code);
        }
    }
    XFreeModifiermap(map);
    return held;
}

bool X11KeySynth::paste() {
    if (!display_) return false;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) return false;

    const KeyCode control = XKeysymToKeycode(display_, XK_Control_L);
    KeyCode v = XKeysymToKeycode(display_, XK_v);
    if (!v) v = XKeysymToKeycode(display_, XK_V);
    if (!control || !v) return false;

    std::vector<int> held = heldModifiers();
    if (!held.empty()) {
        for (int code : held) XTestFakeKeyEvent(display_, static_cast<unsigned>(code), False, CurrentTime);
        XSync(display_, False);
        // A key XTest could not release (held on another device of a server that keeps them
        // apart) is waited out for a moment; the chord goes out either way.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(releaseWait_);
        while (!heldModifiers().empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    XTestFakeKeyEvent(display_, control, True, CurrentTime);
    XTestFakeKeyEvent(display_, v, True, CurrentTime);
    XTestFakeKeyEvent(display_, v, False, CurrentTime);
    XTestFakeKeyEvent(display_, control, False, CurrentTime);
    XFlush(display_);
    return true;
}

}  // namespace platform
