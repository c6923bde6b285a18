#include "platform/x11/X11KeyGrab.h"

#include <QObject>
#include <QSocketNotifier>
#include <QtGlobal>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <set>

namespace platform {

X11KeyGrab::X11KeyGrab(std::string displayName) : displayName_(std::move(displayName)) {}

X11KeyGrab::~X11KeyGrab() {
    grabs_.clear();
    delete notifier_;
    if (display_) XCloseDisplay(display_);
}

bool X11KeyGrab::open() {
    if (display_) return true;
    Display* dpy = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!dpy) return false;
    int xkbOpcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (!XkbQueryExtension(dpy, &xkbOpcode, &xkbEventBase_, &xkbError, &xkbMajor, &xkbMinor)) {
        XCloseDisplay(dpy);
        return false;
    }
    display_ = dpy;
    keyMap_.follow(display_);
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { readPending(); });
    return true;
}

void X11KeyGrab::hold(const std::vector<int>& codes) {
    codes_ = codes;
    if (codes_.empty() && !display_) return;
    if (!open()) return;
    regrab();
}

bool X11KeyGrab::isServerModifier(int keycode) const {
    XModifierKeymap* map = XGetModifierMapping(display_);
    if (!map) return false;
    bool found = false;
    for (int i = 0; i < 8 * map->max_keypermod && !found; ++i) found = map->modifiermap[i] == keycode;
    XFreeModifiermap(map);
    return found;
}

void X11KeyGrab::regrab() {
    std::set<int> wanted;
    for (int kc = 8; kc < 256; ++kc) {
        const int code = keyMap_.key(kc).code;
        if (std::find(codes_.begin(), codes_.end(), code) != codes_.end() && !isServerModifier(kc)) wanted.insert(kc);
    }
    for (auto it = grabs_.begin(); it != grabs_.end();)
        it = wanted.count(it->first) ? std::next(it) : grabs_.erase(it);
    for (int kc : wanted) {
        if (grabs_.count(kc)) continue;
        auto grab = std::make_unique<X11PassiveKeyGrab>();
        const auto taken = grab->grab(display_, kc, false);
        if (taken == X11PassiveKeyGrab::Taken::none) {
            qWarning("[Keys] key %d is held by another program: it still reaches the window in front", kc);
            continue;
        }
        if (taken == X11PassiveKeyGrab::Taken::some)
            qWarning("[Keys] key %d is held by another program with some modifiers: with those it still reaches "
                     "the window in front",
                     kc);
        grabs_.emplace(kc, std::move(grab));
    }
    readPending();
}

std::vector<int> X11KeyGrab::grabbedKeycodes() const {
    std::vector<int> out;
    for (const auto& [kc, grab] : grabs_) out.push_back(kc);
    return out;
}

void X11KeyGrab::readPending() {
    if (!display_) return;
    bool reload = false;
    while (XPending(display_) > 0) {
        XEvent ev;
        XNextEvent(display_, &ev);
        const int keycode = static_cast<int>(ev.xkey.keycode);
        if (ev.type == KeyPress && grabs_.count(keycode)) {
            // The press is dropped here, and the keyboard stays ours until the key's release,
            // which ends the grab by itself and is dropped too: the window in front sees neither.
            held_ = keycode;
        } else if (ev.type == KeyRelease && keycode == held_) {
            held_ = 0;
        } else if (ev.type == KeyPress && held_) {
            // Another key typed during the hold: the keyboard goes back to the window in front at
            // once, with that key pressed there. The held key's release then reaches that window
            // too, as a modifier's would.
            held_ = 0;
            XUngrabKeyboard(display_, ev.xkey.time);
            XTestFakeKeyEvent(display_, ev.xkey.keycode, True, CurrentTime);
            XFlush(display_);
            replayed_.insert(keycode);
        } else if (ev.type == KeyRelease && replayed_.erase(keycode)) {
            // The release of a key handed on came here before the keyboard went back: on with it.
            XTestFakeKeyEvent(display_, ev.xkey.keycode, False, CurrentTime);
            XFlush(display_);
        } else if (ev.type == xkbEventBase_) {
            const auto& xkb = reinterpret_cast<const XkbEvent&>(ev);
            if (xkb.any.xkb_type == XkbStateNotify) {
                keyMap_.setGroup(display_, xkb.state.group);
                reload = true;
            } else if (xkb.any.xkb_type == XkbMapNotify || xkb.any.xkb_type == XkbNewKeyboardNotify) {
                keyMap_.load(display_);
                reload = true;
            }
        } else if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
            keyMap_.load(display_);
            reload = true;
        }
    }
    if (reload && !codes_.empty()) regrab();
}

}  // namespace platform
