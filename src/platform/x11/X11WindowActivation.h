// Bringing one of our windows to the front when the user opens the program again. The request
// carries the moment of the user's action (from the launcher's start-up notification id, else
// the X server's clock now), so that a window manager that prevents focus stealing takes it for
// the user's own; the launcher's start-up notification is ended too.
#pragma once

#include <string>

typedef struct _XDisplay Display;

namespace platform {

class X11WindowActivation {
public:
    X11WindowActivation() = delete;

    // The X server time in a start-up notification id ("…_TIME123456"); 0 when it has none.
    static unsigned long timestampOf(const std::string& startupId);

    // Activates the top-level `window` through the window manager (_NET_ACTIVE_WINDOW) at the
    // id's time, and tells the launcher the start-up it announced is complete.
    static void activate(Display* display, unsigned long window, const std::string& startupId);
    // Tells the launcher that the start it announced is complete (for a start that shows no
    // window, which would otherwise keep the launcher's busy pointer until it gives up).
    static void completeStartup(Display* display, const std::string& startupId);
};

}  // namespace platform
