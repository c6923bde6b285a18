// Starting the program again while it runs, on a real X display with a window manager that
// prevents focus stealing (openbox, when installed) or with none: a window of ours that is shown
// comes to the front with the focus, though the user was working in another window; with none
// shown, the main window opens.
#include "support/DesktopTestMain.h"
#include "support/TaskWait.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <filesystem>
#include <string>

#include <signal.h>
#include <sys/wait.h>

namespace {

std::string nameOf(Display* d, Window w) {
    char* name = nullptr;
    std::string out;
    if (XFetchName(d, w, &name) && name) out = name;
    if (name) XFree(name);
    return out;
}

// The named top-level window that is viewable, 0 when there is none (the manager's frames are
// looked through).
Window findViewable(Display* d, Window under, const std::string& title) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, under, &root, &parent, &children, &n)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < n && !found; ++i) {
        XWindowAttributes a;
        if (nameOf(d, children[i]) == title && XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable)
            found = children[i];
        else
            found = findViewable(d, children[i], title);
    }
    if (children) XFree(children);
    return found;
}

Window rootWindowProperty(Display* d, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window out = 0;
    if (XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, name, False), 0, 1, False, XA_WINDOW, &type, &format,
                           &count, &after, &data) == Success &&
        count == 1)
        out = *reinterpret_cast<Window*>(data);
    if (data) XFree(data);
    return out;
}

// The title of the window that has the focus: the manager's active window, else the focus
// window or the nearest of its ancestors with a title.
std::string activeTitle(Display* d, bool managed) {
    Window w = 0;
    if (managed) {
        w = rootWindowProperty(d, "_NET_ACTIVE_WINDOW");
    } else {
        int revert = 0;
        XGetInputFocus(d, &w, &revert);
    }
    while (w && w != PointerRoot && w != DefaultRootWindow(d)) {
        const std::string name = nameOf(d, w);
        if (!name.empty()) return name;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(d, w, &root, &parent, &children, &n)) break;
        if (children) XFree(children);
        w = parent;
    }
    return {};
}

// A window of another program where the user works: shown, focused by the user's click (a
// manager's pager request, which no manager refuses) and stamped with the time of that click.
class OtherWindow {
public:
    OtherWindow(Display* d, bool managed) : d_(d), managed_(managed) {
        XSetWindowAttributes a{};
        a.event_mask = PropertyChangeMask;
        w_ = XCreateWindow(d, DefaultRootWindow(d), 100, 100, 300, 200, 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWEventMask, &a);
        XStoreName(d, w_, "Elsewhere");
        XMapWindow(d, w_);
        XFlush(d);
    }
    ~OtherWindow() { XDestroyWindow(d_, w_); }

    // The X server's time now.
    unsigned long now() {
        XChangeProperty(d_, w_, XInternAtom(d_, "_TEST_STAMP", False), XA_STRING, 8, PropModeAppend, nullptr, 0);
        XEvent e;
        XWindowEvent(d_, w_, PropertyChangeMask, &e);
        return e.xproperty.time;
    }

    // The user clicks in it (the manager sees the click) and types: its last user action is now.
    long typed() {
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(d_, w_, DefaultRootWindow(d_), 150, 100, &x, &y, &child);
        XTestFakeMotionEvent(d_, -1, x, y, CurrentTime);
        XSync(d_, False);
        test::pumpFor(0.2);
        XTestFakeButtonEvent(d_, 1, True, CurrentTime);
        XTestFakeButtonEvent(d_, 1, False, CurrentTime);
        XSync(d_, False);
        const long t = static_cast<long>(now());
        XChangeProperty(d_, w_, XInternAtom(d_, "_NET_WM_USER_TIME", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&t), 1);
        XFlush(d_);
        return t;
    }

    void focus() {
        const long t = typed();
        if (managed_) {
            XEvent e{};
            e.xclient.type = ClientMessage;
            e.xclient.window = w_;
            e.xclient.message_type = XInternAtom(d_, "_NET_ACTIVE_WINDOW", False);
            e.xclient.format = 32;
            e.xclient.data.l[0] = 2;
            e.xclient.data.l[1] = t;
            XSendEvent(d_, DefaultRootWindow(d_), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
        } else {
            XSetInputFocus(d_, w_, RevertToParent, CurrentTime);
        }
        XFlush(d_);
    }

private:
    Display* d_;
    bool managed_;
    Window w_ = 0;
};

TEST(SecondStartIT, ASecondStartBringsOurShownWindowForwardOrOpensTheMainWindow) {
    const std::string exe = std::string(TOVRIN_BUNDLE_DIR) + "/bin/tovrin";
    ASSERT_TRUE(std::filesystem::exists(exe)) << exe;
    auto& desk = test::desktop();
    Display* d = XOpenDisplay(desk.display().c_str());
    ASSERT_NE(d, nullptr);

    bool managed = false;
    if (desk.run({"sh", "-c", "command -v openbox"}, nullptr, 5) == 0) {
        desk.spawn({"openbox", "--sm-disable"});
        managed = test::pumpUntil([&] { return rootWindowProperty(d, "_NET_SUPPORTING_WM_CHECK") != 0; }, 10);
    }
    std::printf("window manager: %s\n", managed ? "openbox" : "none");

    const pid_t first = desk.spawn({exe});
    ASSERT_GT(first, 0);
    // A new user is not signed in: the first-run window opens.
    ASSERT_TRUE(test::pumpUntil([&] { return findViewable(d, DefaultRootWindow(d), "Welcome to Tovrin") != 0; }, 30));

    OtherWindow other(d, managed);
    auto workElsewhere = [&] {
        other.focus();
        return test::pumpUntil([&] { return activeTitle(d, managed) == "Elsewhere"; }, 5);
    };
    auto startAgain = [&] {
        // The user typed in the other window last, then started the program from a launcher,
        // which hands it a start-up notification id carrying the time of that click.
        other.typed();
        test::pumpFor(0.3);
        const std::string id = "test-launcher-1_TIME" + std::to_string(other.now());
        return desk.run({"env", "DESKTOP_STARTUP_ID=" + id, exe}, nullptr, 15);
    };

    // The first-run window is shown: it comes forward with the focus.
    ASSERT_TRUE(workElsewhere());
    ASSERT_EQ(startAgain(), 0);
    EXPECT_TRUE(test::pumpUntil([&] { return activeTitle(d, managed) == "Welcome to Tovrin"; }, 10))
        << "active: " << activeTitle(d, managed);

    // Nothing of ours shown: the main window opens, in front.
    const Window onboarding = findViewable(d, DefaultRootWindow(d), "Welcome to Tovrin");
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = onboarding;
    close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, onboarding, False, NoEventMask, &close);
    XFlush(d);
    ASSERT_TRUE(test::pumpUntil([&] { return findViewable(d, DefaultRootWindow(d), "Welcome to Tovrin") == 0; }, 10));
    ASSERT_TRUE(workElsewhere());
    ASSERT_EQ(startAgain(), 0);
    EXPECT_TRUE(test::pumpUntil([&] { return findViewable(d, DefaultRootWindow(d), "Tovrin") != 0; }, 10));
    EXPECT_TRUE(test::pumpUntil([&] { return activeTitle(d, managed) == "Tovrin"; }, 10))
        << "active: " << activeTitle(d, managed);

    kill(first, SIGTERM);
    test::pumpUntil([&] { return waitpid(first, nullptr, WNOHANG) == first; }, 10);
    XCloseDisplay(d);
}

}  // namespace

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {.display = true}); }
