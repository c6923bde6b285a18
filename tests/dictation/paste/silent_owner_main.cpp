// A clipboard owner that never hands anything over, for the paste tests: it takes the CLIPBOARD
// selection and then either answers nothing at all, or lists FORMATS formats when asked which it
// has and never sends the data of any. It runs until it is killed.
//
// usage: tovrin_silent_owner READY_FILE [FORMATS]
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int formats = argc > 2 ? std::atoi(argv[2]) : 0;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 1;
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    const Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
    const Atom targets = XInternAtom(d, "TARGETS", False);
    XSetSelectionOwner(d, clipboard, w, CurrentTime);
    if (XGetSelectionOwner(d, clipboard) != w) return 1;

    std::vector<Atom> offered{targets};
    const char* named[] = {"text/plain", "UTF8_STRING", "text/html", "image/png"};
    for (int i = 0; i < formats; ++i)
        offered.push_back(XInternAtom(
            d, i < 4 ? named[i] : ("application/x-silent-" + std::to_string(i)).c_str(), False));
    XSync(d, False);
    if (FILE* ready = std::fopen(argv[1], "w")) std::fclose(ready);

    for (;;) {
        XEvent event;
        XNextEvent(d, &event);
        if (event.type != SelectionRequest || formats == 0) continue;
        const XSelectionRequestEvent& request = event.xselectionrequest;
        if (request.target != targets) continue;  // the data itself never comes
        XChangeProperty(d, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(offered.data()), static_cast<int>(offered.size()));
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.property = request.property;
        reply.xselection.time = request.time;
        XSendEvent(d, request.requestor, False, NoEventMask, &reply);
        XFlush(d);
    }
}
