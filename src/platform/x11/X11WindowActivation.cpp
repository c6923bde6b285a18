#include "platform/x11/X11WindowActivation.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// The server's time now: a property change on a window of a connection of our own answers it
// (the program's own connection hands its events to Qt, never to us).
unsigned long serverTimeNow() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return CurrentTime;
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    const Window w = XCreateWindow(d, DefaultRootWindow(d), -1, -1, 1, 1, 0, CopyFromParent, InputOnly,
                                   CopyFromParent, CWEventMask, &attributes);
    const Atom stamp = XInternAtom(d, "_TOVRIN_TIMESTAMP", False);
    XChangeProperty(d, w, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent event;
    XWindowEvent(d, w, PropertyChangeMask, &event);
    const unsigned long time = event.xproperty.time;
    XDestroyWindow(d, w);
    XCloseDisplay(d);
    return time;
}

// "remove: ID=…", the start-up notification's last message, in the 20-byte pieces the
// protocol sends to the root window.
void sendStartupRemove(Display* d, Window sender, const std::string& startupId) {
    std::string escaped;
    for (char c : startupId) {
        if (c == ' ' || c == '"' || c == '\\') escaped += '\\';
        escaped += c;
    }
    const std::string message = "remove: ID=" + escaped;
    const Atom begin = XInternAtom(d, "_NET_STARTUP_INFO_BEGIN", False);
    const Atom more = XInternAtom(d, "_NET_STARTUP_INFO", False);
    // The terminating NUL is part of the message.
    for (std::size_t at = 0; at <= message.size(); at += 20) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = sender;
        e.xclient.message_type = at == 0 ? begin : more;
        e.xclient.format = 8;
        const std::size_t n = std::min<std::size_t>(20, message.size() + 1 - at);
        std::memcpy(e.xclient.data.b, message.c_str() + at, n);
        XSendEvent(d, DefaultRootWindow(d), False, PropertyChangeMask, &e);
    }
}

// A window manager that follows the desktop conventions names its check window on the root.
bool hasWindowManager(Display* d) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False), 0,
                                          1, False, XA_WINDOW, &type, &format, &count, &after, &data);
    const bool found = status == Success && type == XA_WINDOW && count == 1;
    if (data) XFree(data);
    return found;
}

}  // namespace

void X11WindowActivation::completeStartup(Display* d, const std::string& startupId) {
    if (!d || startupId.empty()) return;
    sendStartupRemove(d, DefaultRootWindow(d), startupId);
    XFlush(d);
}

unsigned long X11WindowActivation::timestampOf(const std::string& startupId) {
    const std::size_t at = startupId.rfind("_TIME");
    if (at == std::string::npos) return 0;
    const char* digits = startupId.c_str() + at + 5;
    char* end = nullptr;
    const unsigned long time = std::strtoul(digits, &end, 10);
    return end != digits && *end == '\0' ? time : 0;
}

void X11WindowActivation::activate(Display* d, unsigned long window, const std::string& startupId) {
    if (!d || !window) return;
    unsigned long time = timestampOf(startupId);
    if (!time) time = serverTimeNow();

    const long userTime = static_cast<long>(time);
    XChangeProperty(d, window, XInternAtom(d, "_NET_WM_USER_TIME", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&userTime), 1);
    if (!startupId.empty())
        XChangeProperty(d, window, XInternAtom(d, "_NET_STARTUP_ID", False), XInternAtom(d, "UTF8_STRING", False), 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(startupId.c_str()),
                        static_cast<int>(startupId.size()));

    if (!hasWindowManager(d)) {
        // Nobody to ask: the window is raised and given the focus directly.
        XRaiseWindow(d, window);
        XSetInputFocus(d, window, RevertToParent, time);
        if (!startupId.empty()) sendStartupRemove(d, window, startupId);
        XFlush(d);
        return;
    }
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 1;  // a request of the application itself
    e.xclient.data.l[1] = userTime;
    e.xclient.data.l[2] = 0;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);

    if (!startupId.empty()) sendStartupRemove(d, window, startupId);
    XFlush(d);
}

}  // namespace platform
