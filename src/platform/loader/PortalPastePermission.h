// The paste permission of a GNOME session under Wayland: the RemoteDesktop portal's grant of the
// keyboard, which the user gives in the desktop's dialog.
#pragma once

#include "platform/PastePermission.h"
#include "platform/portal/RemoteDesktopPortal.h"

#include <functional>
#include <string>
#include <utility>

namespace platform {

class PortalPastePermission : public PastePermission {
public:
    // `restoreToken` gives the token of an earlier grant each time the portal is asked again.
    PortalPastePermission(RemoteDesktopPortal& portal, std::function<std::string()> restoreToken)
        : portal_(portal), restoreToken_(std::move(restoreToken)) {}

    State state() override {
        switch (portal_.state()) {
        case RemoteDesktopPortal::State::asking: return State::asking;
        case RemoteDesktopPortal::State::granted: return State::granted;
        case RemoteDesktopPortal::State::unavailable: return State::unavailable;
        case RemoteDesktopPortal::State::idle:
        case RemoteDesktopPortal::State::refused:
        case RemoteDesktopPortal::State::closed: break;
        }
        return State::notGranted;
    }
    bool remembered() override { return portal_.version() >= 2; }
    void request() override { portal_.start(restoreToken_()); }

private:
    RemoteDesktopPortal& portal_;
    std::function<std::string()> restoreToken_;
};

}  // namespace platform
