// A headless sway for integration tests (see WlStack), with the compositor and its clients run as
// user nobody (sway refuses root). Sway's own programs (wl-copy, foot, the GTK field) are started
// here as that user and stopped with the stack. Needs no Qt and no gtest.
#pragma once

#include "support/WlStack.h"

#include <string>
#include <vector>

namespace test {

class SwayStack : public WlStack {
public:
    // Brings the stack up (bounded by the tool, ~15 s); ok() tells whether it did.
    SwayStack();
    // Why the stack cannot run on this machine (tool or packages missing); empty when it can.
    static std::string unavailable();

    // The X display of sway's XWayland (":N"), started on the first client, which this process
    // may then use too; empty when none.
    std::string xwaylandDisplay() const;

    // sway's IPC: one command line; true when sway says it succeeded.
    bool swaymsg(const std::string& command);
    // Appends lines to the stack's sway config and makes sway read it again.
    bool addConfig(const std::string& lines);
    // The app_id of the focused window (the X11 class of an XWayland window), by sway's tree.
    std::string focusedAppId();

    // The GTK field (a native Wayland GTK window with one focused entry).
    bool startField();
    // A foot terminal running `cat > path` (created as the stack's user), focused.
    bool startFootCat(const std::string& path);

    // The wlstack tool's virtual keyboard: STEP... as it takes them ("29:1", "sleep:200").
    bool keys(const std::vector<std::string>& steps);
};

}  // namespace test
