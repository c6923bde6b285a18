// A stand-in for another program's text field: a plain X window that takes the keyboard focus and
// writes every key it receives to a file, one line each ("press Escape", "release Escape").
// Usage: key_probe <output file>. The first line is "ready <window id>".
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) return 3;
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) return 4;

    const int screen = DefaultScreen(dpy);
    Window win = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 10, 10, 320, 60, 1,
                                     BlackPixel(dpy, screen), WhitePixel(dpy, screen));
    XStoreName(dpy, win, "key probe");
    XSelectInput(dpy, win, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapWindow(dpy, win);
    for (;;) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == MapNotify) break;
    }
    XSetInputFocus(dpy, win, RevertToPointerRoot, CurrentTime);
    XSync(dpy, False);
    std::fprintf(out, "ready %lu\n", static_cast<unsigned long>(win));
    std::fflush(out);

    for (;;) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type != KeyPress && ev.type != KeyRelease) continue;
        const KeySym sym = XLookupKeysym(&ev.xkey, 0);
        const char* name = sym != NoSymbol ? XKeysymToString(sym) : nullptr;
        std::fprintf(out, "%s %s\n", ev.type == KeyPress ? "press" : "release", name ? name : "?");
        std::fflush(out);
    }
}
