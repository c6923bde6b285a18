#include "platform/x11/X11PassiveKeyGrab.h"

#include <X11/Xlib.h>

namespace platform {

namespace {

// The eight modifier bits: Shift, Lock, Control, Mod1 … Mod5.
constexpr unsigned int kAllModifierBits = 0xFF;
// The lock modifiers that must not defeat a grab: Caps Lock and Num Lock.
constexpr unsigned int kLocks = LockMask | Mod2Mask;

// Errors of the grab requests, counted while they are checked (Xlib's handler is process-wide).
Display* g_checkedDisplay = nullptr;
int g_errors = 0;
int (*g_previousHandler)(Display*, XErrorEvent*) = nullptr;

int countGrabError(Display* display, XErrorEvent* error) {
    if (display == g_checkedDisplay) {
        ++g_errors;
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, error) : 0;
}

// Sends a grab of `keycode` for every combination `pick` accepts; the number refused.
template <typename Pick>
int grabCombinations(Display* display, int keycode, Pick pick) {
    const Window root = DefaultRootWindow(display);
    XSync(display, False);
    g_checkedDisplay = display;
    g_errors = 0;
    g_previousHandler = XSetErrorHandler(countGrabError);
    for (unsigned int mods = 0; mods <= kAllModifierBits; ++mods)
        if (pick(mods)) XGrabKey(display, keycode, mods, root, False, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    XSetErrorHandler(g_previousHandler);
    g_checkedDisplay = nullptr;
    return g_errors;
}

bool isBare(unsigned int mods) { return (mods & ~kLocks) == 0; }

}  // namespace

X11PassiveKeyGrab::~X11PassiveKeyGrab() { release(); }

X11PassiveKeyGrab::Taken X11PassiveKeyGrab::grab(_XDisplay* display, int keycode, bool requireBare) {
    release();
    if (!display || keycode <= 0 || keycode > 255) return Taken::none;
    display_ = display;
    keycode_ = keycode;
    int refused = 0;
    if (requireBare) {
        // Another client holds the bare key (BadAccess): take none of it.
        if (grabCombinations(display, keycode, isBare) != 0) {
            release();
            return Taken::none;
        }
        refused = grabCombinations(display, keycode, [](unsigned int mods) { return !isBare(mods); });
    } else {
        refused = grabCombinations(display, keycode, [](unsigned int) { return true; });
        if (refused == static_cast<int>(kAllModifierBits) + 1) {
            release();
            return Taken::none;
        }
    }
    complete_ = refused == 0;
    return complete_ ? Taken::all : Taken::some;
}

void X11PassiveKeyGrab::release() {
    if (!display_ || !keycode_) return;
    // Lets go of this client's grabs of the key under every combination, and of no one else's.
    XUngrabKey(display_, keycode_, AnyModifier, DefaultRootWindow(display_));
    XSync(display_, False);
    keycode_ = 0;
    complete_ = false;
}

}  // namespace platform
