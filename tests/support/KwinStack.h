// A headless KWin (KDE Plasma 5.27) for integration tests (see WlStack): kwin_wayland with
// XWayland, and on demand the desktop portal with its KDE backend (GlobalShortcuts,
// RemoteDesktop). Its programs (a GTK field, a Qt field, wl-copy) are started here and stopped
// with the stack. Keys are sent through KWin's fake input by the tool's helper, which its desktop
// entry is granted. Needs no Qt and no gtest.
#pragma once

#include "support/WlStack.h"

#include <string>
#include <vector>

namespace test {

class KwinStack : public WlStack {
public:
    // Brings the stack up (bounded by the tool, ~20 s); ok() tells whether it did.
    KwinStack();
    // Why the stack cannot run on this machine (tool or packages missing); empty when it can.
    static std::string unavailable();

    // KWin's XWayland display (":N"); empty when none.
    std::string xwaylandDisplay() const;
    // Starts xdg-desktop-portal and its KDE backend on the stack's bus; true once it answers.
    bool startPortals();

    // Gives the keyboard focus to the window of `resourceClass` (app_id) by a KWin script; true
    // once KWin says it is active.
    bool activate(const std::string& resourceClass);

    // The GTK field (a native Wayland GTK window with one focused entry).
    bool startField();
    // A native Qt 6 field (the tool's qt_probe), focused; its text.
    bool startQtField();
    std::string qtFieldText() const;

    // Keys through KWin's fake input: STEP... as the tool's helper takes them ("29:1", "sleep:200").
    bool keys(const std::vector<std::string>& steps);

private:
    int scripts_ = 0;
};

}  // namespace test
