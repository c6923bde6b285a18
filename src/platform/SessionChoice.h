// Which mechanism serves each job in this desktop session: where the push-to-talk key comes from,
// how the text reaches the clipboard and how the paste chord is sent. Decided once at start-up
// (SessionProbe) and installed by the loader; the Shortcuts page shows it.
#pragma once

#include <string>

namespace platform {

enum class KeySource {
    x11,                // XInput2 raw events: every program of an X11 session
    desktopShortcut,    // the GlobalShortcuts portal: the desktop reports press and release
    compositorBinding,  // a key binding of the compositor runs `tovrin --ptt-down` / `--ptt-up`
    xwaylandOnly,       // XInput2 under XWayland: keys only while an X11 program has focus
    inputDevices,       // the kernel's input devices (the user is in group "input")
    none,
};

enum class ClipboardPath {
    system,       // the toolkit's clipboard (the X11 CLIPBOARD when the UI runs on X11)
    dataControl,  // the wlroots data-control protocol, in process
};

enum class PastePath {
    x11,              // XTest
    virtualKeyboard,  // zwp_virtual_keyboard_v1, in process
    kdeFakeInput,     // org_kde_kwin_fake_input
    remoteDesktop,    // the RemoteDesktop portal
    clipboardOnly,    // no chord can be sent: the text is left on the clipboard
};

// The desktop, as far as the advice given to the user differs.
enum class DesktopKind { x11, gnome, kde, sway, wlroots, otherWayland };

struct SessionChoice {
    DesktopKind desktop = DesktopKind::x11;
    KeySource key = KeySource::x11;
    ClipboardPath clipboard = ClipboardPath::system;
    PastePath paste = PastePath::x11;
    // The push-to-talk key as the desktop names it where the desktop owns the key (the
    // GlobalShortcuts portal's trigger: "Ctrl+Alt+D", "Menu"); empty when it said none.
    std::string keyTrigger;

    bool operator==(const SessionChoice&) const = default;

    // The status lines: "Key: X11", "Paste: clipboard only", …
    std::string keyStatus() const;
    std::string pasteStatus() const;
    // True when the key reaches us whatever program has the focus.
    bool keyWorksEverywhere() const {
        return key == KeySource::x11 || key == KeySource::desktopShortcut || key == KeySource::compositorBinding ||
               key == KeySource::inputDevices;
    }

    // What the loader installed in this process (an X11 session until it says otherwise).
    static SessionChoice current();
    static void setCurrent(const SessionChoice& choice);
};

}  // namespace platform
