#include "platform/x11/X11EscSwallow.h"

#include <QGuiApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace platform {

namespace {

bool ownWindowHasFocus() { return qGuiApp && QGuiApplication::focusWindow() != nullptr; }

}  // namespace

X11EscSwallow::X11EscSwallow(std::string displayName) : displayName_(std::move(displayName)) {}

X11EscSwallow::~X11EscSwallow() {
    disable();
    grab_.release();
    context_.reset();
    delete notifier_;
    if (display_) XCloseDisplay(display_);
}

bool X11EscSwallow::open() {
    if (display_) return true;
    display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!display_) return false;
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { readPending(); });
    context_ = std::make_unique<QObject>();
    if (qGuiApp)
        QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, context_.get(), [this] { followFocus(); });
    return true;
}

bool X11EscSwallow::enable(std::function<void()> onEscape) {
    if (enabled_) return true;
    if (!open()) return false;
    onEscape_ = std::move(onEscape);
    enabled_ = true;
    if (!ownWindowHasFocus() && !grab()) {
        enabled_ = false;
        onEscape_ = {};
        return false;
    }
    return true;
}

void X11EscSwallow::disable() {
    if (!enabled_) return;
    enabled_ = false;
    onEscape_ = {};
    ungrab();
}

bool X11EscSwallow::grab() {
    if (grab_.keycode()) return true;
    const int keycode = XKeysymToKeycode(display_, XK_Escape);
    if (keycode == 0) return false;
    // Without the bare key nothing is taken; a combination another program holds stays with it.
    const bool taken = grab_.grab(display_, keycode, true) != X11PassiveKeyGrab::Taken::none;
    readPending();
    return taken;
}

void X11EscSwallow::ungrab() {
    if (!grab_.keycode()) return;
    grab_.release();
    readPending();
}

void X11EscSwallow::followFocus() {
    if (!enabled_) return;
    if (ownWindowHasFocus())
        ungrab();
    else
        grab();
}

void X11EscSwallow::readPending() {
    if (!display_) return;
    while (XPending(display_) > 0) {
        XEvent ev;
        XNextEvent(display_, &ev);
        if (ev.type == KeyPress && grab_.keycode() && static_cast<int>(ev.xkey.keycode) == grab_.keycode()) {
            // With only some combinations taken the key events report every press instead.
            if (onEscape_ && isSwallowing()) {
                auto callback = onEscape_;
                callback();
            }
        } else if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
            // Escape may have moved to another key: take the grab again on the new one.
            if (grab_.keycode() && XKeysymToKeycode(display_, XK_Escape) != grab_.keycode()) {
                ungrab();
                grab();
            }
        }
    }
}

}  // namespace platform
