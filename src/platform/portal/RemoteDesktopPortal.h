// The paste chord through the desktop's RemoteDesktop portal (GNOME on Wayland, and KDE where
// KWin's fake input is not granted): a session with the keyboard alone, opened once and kept for
// the program's life, into which the chord is sent as key codes (never keysyms, which GNOME drops
// when they are not on the layout).
//
// Portal 1.16 asks the user at every start ("Allow remote interaction", Share); from version 2 on
// the session persists and the portal hands back a restore token, which the caller stores so the
// dialog appears once. A session the desktop closes is opened again at the next paste.
#pragma once

#include "platform/KeySynth.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class RemoteDesktopPortal : public KeySynth {
public:
    enum class State {
        idle,         // not started
        asking,       // the requests are out; the desktop may be showing its dialog
        granted,      // the keyboard is ours to use
        refused,      // the user said no, or closed the dialog
        unavailable,  // no bus or no portal
        closed,       // the desktop ended the session
    };

    // `busAddress` empty: the session bus.
    explicit RemoteDesktopPortal(std::string busAddress = {});
    ~RemoteDesktopPortal() override;

    // Opens the session, with the restore token of an earlier grant where the portal takes one.
    void start(const std::string& restoreToken = {});
    State state() const;
    // The portal's interface version once read (1 until then): from 2 on a grant is kept.
    std::uint32_t version() const;

    // Sends Control+V (Control+Shift+V when `focusedIsTerminal` says so). False, sending nothing,
    // unless the keyboard is granted; a session not yet asked for, or closed, is opened for the
    // next paste.
    bool paste() override;
    // What `focusedIsTerminal` says: the paste then turns line breaks into spaces.
    bool targetIsTerminal() const override;

    std::function<void(State)> onStateChanged;
    // A new restore token to keep for the next start.
    std::function<void(const std::string& token)> onRestoreToken;
    // Whether the focused window is a terminal emulator (known only for XWayland windows).
    std::function<bool()> focusedIsTerminal;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
