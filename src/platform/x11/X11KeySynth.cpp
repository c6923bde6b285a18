#include "platform/x11/X11KeySynth.h"

#include "platform/TerminalApps.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <thread>

namespace platform {

namespace {

bool isDown(const char keys[32], int code) { return code > 0 && code < 256 && (keys[code / 8] & (1 << (code % 8))); }

// Errors of the window queries (a window may go away meanwhile), ignored while they run.
Display* g_queryDisplay = nullptr;
int (*g_previousHandler)(Display*, XErrorEvent*) = nullptr;

int ignoreQueryError(Display* display, XErrorEvent* error) {
    if (display == g_queryDisplay) return 0;
    return g_previousHandler ? g_previousHandler(display, error) : 0;
}

bool classOf(Display* display, Window window, std::pair<std::string, std::string>& out) {
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint)) return false;
    out = {hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return true;
}

}  // namespace

X11KeySynth::X11KeySynth(_XDisplay* display, double releaseWait) : display_(display), releaseWait_(releaseWait) {}

bool X11KeySynth::isTerminal(const std::string& instance, const std::string& className) {
    return TerminalApps::contains(instance) || TerminalApps::contains(className);
}

bool X11KeySynth::targetIsTerminal() const {
    const auto [instance, className] = focusedWindowClass();
    return isTerminal(instance, className);
}

std::pair<std::string, std::string> X11KeySynth::focusedWindowClass() const {
    std::pair<std::string, std::string> found;
    if (!display_) return found;
    XSync(display_, False);
    g_queryDisplay = display_;
    g_previousHandler = XSetErrorHandler(ignoreQueryError);

    const Window root = DefaultRootWindow(display_);
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    bool ok = false;
    // The focus may sit on a child of the top-level window: walk up to the one that has a class.
    for (Window w = focus; w != None && w != PointerRoot && w != root && !ok;) {
        ok = classOf(display_, w, found);
        Window rootOut = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display_, w, &rootOut, &parent, &children, &count)) break;
        if (children) XFree(children);
        w = parent;
    }
    if (!ok) {
        // A window manager may keep the focus on its frame: ask it which window is active.
        const Atom active = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, root, active, 0, 1, False, XA_WINDOW, &type, &format, &items, &after,
                               &data) == Success &&
            data && items == 1 && format == 32) {
            const Window w = *reinterpret_cast<Window*>(data);
            if (w != None) ok = classOf(display_, w, found);
        }
        if (data) XFree(data);
    }
    XSync(display_, False);
    XSetErrorHandler(g_previousHandler);
    g_queryDisplay = nullptr;
    if (!ok) found = {};
    return found;
}

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
            if (isDown(keys, code)) held.push_back(code);
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
    const auto [instance, className] = focusedWindowClass();
    const KeyCode shift = isTerminal(instance, className) ? XKeysymToKeycode(display_, XK_Shift_L) : 0;

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
    if (shift) XTestFakeKeyEvent(display_, shift, True, CurrentTime);
    XTestFakeKeyEvent(display_, v, True, CurrentTime);
    XTestFakeKeyEvent(display_, v, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shift, False, CurrentTime);
    XTestFakeKeyEvent(display_, control, False, CurrentTime);
    XFlush(display_);
    return true;
}

}  // namespace platform
