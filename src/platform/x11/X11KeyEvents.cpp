#include "platform/x11/X11KeyEvents.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <vector>

namespace platform {

namespace {

// Keys go to one of our windows exactly when one of them has the keyboard focus.
KeyScope currentScope() {
    return qGuiApp && QGuiApplication::focusWindow() ? KeyScope::local : KeyScope::global;
}

}  // namespace

X11KeyEvents::X11KeyEvents(std::string displayName) : displayName_(std::move(displayName)) {}

X11KeyEvents::~X11KeyEvents() {
    delete notifier_;
    if (display_) XCloseDisplay(display_);
}

bool X11KeyEvents::open() {
    if (display_) return true;
    Display* dpy = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!dpy) return false;

    int event = 0, error = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(dpy, "XInputExtension", &xiOpcode_, &event, &error) ||
        XIQueryVersion(dpy, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
        XCloseDisplay(dpy);
        return false;
    }
    int xkbOpcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (!XkbQueryExtension(dpy, &xkbOpcode, &xkbEventBase_, &xkbError, &xkbMajor, &xkbMinor)) {
        XCloseDisplay(dpy);
        return false;
    }

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(dpy, DefaultRootWindow(dpy), &mask, 1);

    display_ = dpy;
    keyMap_.follow(display_);
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { readPending(); });
    readPending();
    return true;
}

int X11KeyEvents::addMonitor(Monitor monitor) {
    if (!open()) return 0;
    const int token = nextToken_++;
    monitors_.emplace(token, std::move(monitor));
    return token;
}

int X11KeyEvents::addFlagsChangedMonitor(KeyScope scope, FlagsHandler handler) {
    return addMonitor({scope, std::move(handler), {}});
}

int X11KeyEvents::addKeyDownMonitor(KeyScope scope, KeyDownHandler handler) {
    return addMonitor({scope, {}, std::move(handler)});
}

void X11KeyEvents::removeMonitor(int token) { monitors_.erase(token); }

void X11KeyEvents::readPending() {
    if (!display_) return;
    while (XPending(display_) > 0) {
        XEvent ev;
        XNextEvent(display_, &ev);
        if (ev.type == GenericEvent && ev.xcookie.extension == xiOpcode_) {
            if (!XGetEventData(display_, &ev.xcookie)) continue;
            const auto* raw = static_cast<const XIRawEvent*>(ev.xcookie.data);
            if (ev.xcookie.evtype == XI_RawKeyPress)
                keyPressed(raw->detail, (raw->flags & XIKeyRepeat) != 0);
            else if (ev.xcookie.evtype == XI_RawKeyRelease)
                keyReleased(raw->detail);
            XFreeEventData(display_, &ev.xcookie);
        } else if (ev.type == xkbEventBase_) {
            const auto& xkb = reinterpret_cast<const XkbEvent&>(ev);
            if (xkb.any.xkb_type == XkbStateNotify) {
                keyMap_.setGroup(display_, xkb.state.group);
                endChangedHolds();
            } else if (xkb.any.xkb_type == XkbMapNotify || xkb.any.xkb_type == XkbNewKeyboardNotify) {
                keyMap_.load(display_);
                endChangedHolds();
            }
        } else if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
            keyMap_.load(display_);
            endChangedHolds();
        }
    }
}

std::uint64_t X11KeyEvents::heldFlags() const {
    std::uint64_t flags = 0;
    for (const auto& [kc, key] : down_) flags |= key.flag;
    return flags;
}

void X11KeyEvents::keyPressed(int xKeycode, bool repeatFlag) {
    // A key whose hold was ended is still physically down: its repeats mean nothing.
    if (endedHolds_.count(xKeycode)) return;
    auto held = down_.find(xKeycode);
    const bool wasDown = held != down_.end();
    const X11KeyMap::Key key = wasDown ? held->second : keyMap_.key(xKeycode);
    if (!wasDown) down_.emplace(xKeycode, key);
    if (key.isModifier) {
        // A modifier held down changes no flags: its repeats are not reported.
        if (wasDown || repeatFlag) return;
        const FlagsChangedEvent event{key.code, heldFlags()};
        dispatch(&event, nullptr);
    } else {
        const KeyDownEvent event{key.code, wasDown || repeatFlag};
        dispatch(nullptr, &event);
    }
}

void X11KeyEvents::keyReleased(int xKeycode) {
    if (endedHolds_.erase(xKeycode)) return;
    auto held = down_.find(xKeycode);
    // A key that went down before we were listening: its press was never reported either.
    if (held == down_.end()) return;
    const X11KeyMap::Key key = held->second;
    down_.erase(held);
    if (!key.isModifier) return;
    const FlagsChangedEvent event{key.code, heldFlags()};
    dispatch(&event, nullptr);
}

void X11KeyEvents::endChangedHolds() {
    std::vector<std::pair<int, X11KeyMap::Key>> ended;
    for (const auto& [kc, key] : down_) {
        const X11KeyMap::Key& now = keyMap_.key(kc);
        if (key.isModifier && (now.code != key.code || now.isModifier != key.isModifier || now.flag != key.flag))
            ended.emplace_back(kc, key);
    }
    for (const auto& [kc, key] : ended) {
        down_.erase(kc);
        endedHolds_.insert(kc);
        const FlagsChangedEvent event{key.code, heldFlags()};
        dispatch(&event, nullptr);
    }
}

void X11KeyEvents::dispatch(const FlagsChangedEvent* flags, const KeyDownEvent* keyDown) {
    const KeyScope scope = currentScope();
    // Handlers may add or remove monitors: call a copy.
    std::vector<Monitor> targets;
    for (const auto& [token, monitor] : monitors_)
        if (monitor.scope == scope) targets.push_back(monitor);
    for (const auto& monitor : targets) {
        if (flags && monitor.flags) monitor.flags(*flags);
        if (keyDown && monitor.keyDown) monitor.keyDown(*keyDown);
    }
}

}  // namespace platform
