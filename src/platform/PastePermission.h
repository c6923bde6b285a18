// The desktop's consent to send the paste chord into other programs, where the desktop asks the
// user for it (GNOME on Wayland: the RemoteDesktop portal's dialog, in which the user switches on
// "Allow remote interaction" and presses Share). Installed only in such a session; elsewhere
// nothing needs asking and the interface is not installed.
#pragma once

#include "platform/ServiceSlot.h"

namespace platform {

class PastePermission {
public:
    enum class State {
        asking,      // the request is out; the desktop may be showing its dialog
        granted,     // the paste chord can be sent
        notGranted,  // refused, the dialog closed, or the session ended
        unavailable, // the desktop offers no way to ask: the text stays on the clipboard
    };

    virtual ~PastePermission() = default;

    virtual State state() = 0;
    // True when the desktop keeps a grant across our starts (it then asks once); false where it
    // asks again at each start, or while that is not known yet.
    virtual bool remembered() = 0;
    // Asks again (the desktop shows its dialog) unless a request is out or the grant stands.
    virtual void request() = 0;

    static PastePermission& shared() { return ServiceSlot<PastePermission>::get(); }
    static void setShared(PastePermission* p) { ServiceSlot<PastePermission>::set(p); }
    static bool isInstalled() { return ServiceSlot<PastePermission>::isSet(); }
};

}  // namespace platform
