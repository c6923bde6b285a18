#include "platform/X11EscSwallow.h"

#include <QGuiApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace platform {

namespace {

// The lock modifiers that must not defeat the grab: none, Caps Lock, Num Lock, both.
constexpr unsigned int kLockCombinations[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
// The modifiers the push-to-talk keys carry (Right Control, Right Alt, Right Super): while one of
// them is held for a recording, Esc arrives with its bit set and a grab without it would miss.
constexpr unsigned int kHeldModifiers[] = {ControlMask, Mod1Mask, Mod4Mask};

// Errors of the grab requests, caught while they are checked (Xlib's handler is process-wide).
Display* g_checkedDisplay = nullptr;
int g_grabError = 0;
int (*g_previousHandler)(Display*, XErrorEvent*) = nullptr;

int recordGrabError(Display* display, XErrorEvent* error) {
    if (display == g_checkedDisplay) {
        if (!g_grabError) g_grabError = error->error_code;
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, error) : 0;
}

bool ownWindowHasFocus() { return qGuiApp && QGuiApplication::focusWindow() != nullptr; }

}  // namespace

X11EscSwallow::X11EscSwallow(std::string displayName) : displayName_(std::move(displayName)) {}

X11EscSwallow::~X11EscSwallow() {
    disable();
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

// Grabs Esc with `modifiers` under every lock combination; on any error none of them is kept.
bool X11EscSwallow::grabWith(int keycode, unsigned int modifiers) {
    const Window root = DefaultRootWindow(display_);
    XSync(display_, False);
    g_checkedDisplay = display_;
    g_grabError = 0;
    g_previousHandler = XSetErrorHandler(recordGrabError);
    for (unsigned int locks : kLockCombinations)
        XGrabKey(display_, keycode, modifiers | locks, root, False, GrabModeAsync, GrabModeAsync);
    XSync(display_, False);
    XSetErrorHandler(g_previousHandler);
    g_checkedDisplay = nullptr;
    if (g_grabError == 0) return true;
    // Another program holds this combination (BadAccess): take none of it.
    for (unsigned int locks : kLockCombinations) XUngrabKey(display_, keycode, modifiers | locks, root);
    XSync(display_, False);
    return false;
}

bool X11EscSwallow::grab() {
    if (grabbedKeycode_) return true;
    const int keycode = XKeysymToKeycode(display_, XK_Escape);
    if (keycode == 0) return false;
    const bool taken = grabWith(keycode, 0);
    if (taken) {
        grabbedKeycode_ = keycode;
        // Esc with a push-to-talk modifier held; what another program holds stays with it, and
        // then the presses are not all taken (isSwallowing says so, so they are reported).
        allModifiers_ = true;
        for (unsigned int mods : kHeldModifiers)
            if (grabWith(keycode, mods)) grabbedModifiers_.push_back(mods);
            else allModifiers_ = false;
    }
    readPending();
    return taken;
}

void X11EscSwallow::ungrab() {
    if (!grabbedKeycode_) return;
    const Window root = DefaultRootWindow(display_);
    for (unsigned int locks : kLockCombinations) {
        XUngrabKey(display_, grabbedKeycode_, locks, root);
        for (unsigned int mods : grabbedModifiers_) XUngrabKey(display_, grabbedKeycode_, mods | locks, root);
    }
    XSync(display_, False);
    grabbedKeycode_ = 0;
    grabbedModifiers_.clear();
    allModifiers_ = false;
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
        if (ev.type == KeyPress && grabbedKeycode_ && static_cast<int>(ev.xkey.keycode) == grabbedKeycode_) {
            if (onEscape_) {
                auto callback = onEscape_;
                callback();
            }
        } else if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
            // Escape may have moved to another key: take the grab again on the new one.
            if (grabbedKeycode_ && XKeysymToKeycode(display_, XK_Escape) != grabbedKeycode_) {
                ungrab();
                grab();
            }
        }
    }
}

}  // namespace platform
