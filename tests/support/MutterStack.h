// A headless GNOME for integration tests (see WlStack): mutter with its XWayland, and on request
// the desktop portal with GNOME's backend. The backend's windows live on XWayland, so the test can
// answer its consent dialog with X11 clicks. Needs no Qt and no gtest.
#pragma once

#include "support/WlStack.h"

#include <string>
#include <sys/types.h>

namespace test {

class MutterStack : public WlStack {
public:
    // Brings the stack up (bounded, ~20 s at most); ok() tells whether it did.
    MutterStack();
    // Why the stack cannot run on this machine (tool or packages missing); empty when it can.
    static std::string unavailable();

    // The desktop portal with GNOME's backend (RemoteDesktop); false when it did not come up.
    bool startPortal();
    // Waits for the portal's remote-desktop consent dialog and answers it: "Allow remote
    // interaction" and Share, or Cancel. False when no dialog showed or it stayed open.
    bool answerConsent(bool allow);

    // The GTK field (a GTK window with one focused entry, started afresh; a native Wayland client,
    // or an X11 one on XWayland).
    bool startField(bool onXWayland = false);

private:
    pid_t field_ = -1;
};

}  // namespace test
