#include "support/XTestKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace test {

XTestKeyboard::XTestKeyboard(const std::string& displayName) {
    Display* dpy = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!dpy) return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy, &event, &error, &major, &minor)) {
        XCloseDisplay(dpy);
        return;
    }
    display_ = dpy;
}

XTestKeyboard::~XTestKeyboard() {
    if (display_) XCloseDisplay(display_);
}

void XTestKeyboard::refresh() {
    // Take in keymap changes made by other clients before looking keys up.
    XSync(display_, False);
    while (XPending(display_) > 0) {
        XEvent ev;
        XNextEvent(display_, &ev);
        if (ev.type == MappingNotify) XRefreshKeyboardMapping(&ev.xmapping);
    }
}

int XTestKeyboard::keycodeOf(const std::string& keysym) {
    if (!display_) return 0;
    refresh();
    const KeySym sym = XStringToKeysym(keysym.c_str());
    return sym == NoSymbol ? 0 : XKeysymToKeycode(display_, sym);
}

void XTestKeyboard::pressKeycode(int keycode) {
    XTestFakeKeyEvent(display_, static_cast<unsigned>(keycode), True, CurrentTime);
    XSync(display_, False);
}

void XTestKeyboard::releaseKeycode(int keycode) {
    XTestFakeKeyEvent(display_, static_cast<unsigned>(keycode), False, CurrentTime);
    XSync(display_, False);
}

bool XTestKeyboard::press(const std::string& keysym) {
    const int kc = keycodeOf(keysym);
    if (kc == 0) return false;
    pressKeycode(kc);
    return true;
}

bool XTestKeyboard::release(const std::string& keysym) {
    const int kc = keycodeOf(keysym);
    if (kc == 0) return false;
    releaseKeycode(kc);
    return true;
}

bool XTestKeyboard::tap(const std::string& keysym) { return press(keysym) && release(keysym); }

int XTestKeyboard::unusedKeycode() {
    if (!display_) return 0;
    int minKc = 0, maxKc = 0;
    XDisplayKeycodes(display_, &minKc, &maxKc);
    int perCode = 0;
    KeySym* syms = XGetKeyboardMapping(display_, static_cast<KeyCode>(minKc), maxKc - minKc + 1, &perCode);
    if (!syms) return 0;
    int found = 0;
    for (int kc = maxKc; kc >= minKc && !found; --kc) {
        bool empty = true;
        for (int i = 0; i < perCode; ++i)
            if (syms[(kc - minKc) * perCode + i] != NoSymbol) empty = false;
        if (empty) found = kc;
    }
    XFree(syms);
    return found;
}

bool XTestKeyboard::bind(int keycode, const std::string& keysym) {
    if (!display_ || keycode == 0) return false;
    KeySym sym = keysym.empty() ? NoSymbol : XStringToKeysym(keysym.c_str());
    if (!keysym.empty() && sym == NoSymbol) return false;
    XChangeKeyboardMapping(display_, keycode, 1, &sym, 1);
    refresh();
    return true;
}

namespace {
constexpr unsigned int kLockCombinations[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
int g_grabError = 0;
int recordError(Display*, XErrorEvent* e) {
    g_grabError = e->error_code;
    return 0;
}
}  // namespace

bool XTestKeyboard::grabKey(const std::string& keysym) {
    const int kc = keycodeOf(keysym);
    if (kc == 0) return false;
    g_grabError = 0;
    auto* previous = XSetErrorHandler(recordError);
    for (unsigned int mods : kLockCombinations)
        XGrabKey(display_, kc, mods, DefaultRootWindow(display_), False, GrabModeAsync, GrabModeAsync);
    XSync(display_, False);
    XSetErrorHandler(previous);
    return g_grabError == 0;
}

void XTestKeyboard::ungrabKey(const std::string& keysym) {
    const int kc = keycodeOf(keysym);
    if (kc == 0) return;
    for (unsigned int mods : kLockCombinations) XUngrabKey(display_, kc, mods, DefaultRootWindow(display_));
    XSync(display_, False);
}

void XTestKeyboard::focus(unsigned long window) {
    XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
}

}  // namespace test
