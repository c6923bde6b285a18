// The push-to-talk key through the desktop's GlobalShortcuts portal (GNOME 48 and later, KDE
// Plasma): the desktop owns the key, tells us when it goes down (`Activated`) and up
// (`Deactivated`), and keeps it from the focused program.
//
// Plasma 5.27 reads the shortcut only from CreateSession's "shortcuts" option and answers with it
// bound; there BindShortcuts would only open System Settings, so it is skipped. GNOME 48 and
// Plasma 6 bind in BindShortcuts, with a dialog in which the user picks the key. The session token
// is fixed, so the desktop keeps the user's choice across restarts.
//
// A portal that exports the interface but refuses the session (portal 1.16 with the KDE backend
// installed on another desktop) counts as unavailable: only a CreateSession that answered 0 does.
// Everything is asynchronous on the main thread's GLib context; nothing here blocks.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class GlobalShortcutsPortal {
public:
    enum class State {
        idle,         // not started
        connecting,   // a request is out
        unavailable,  // no bus, no portal, or the call failed
        refused,      // the portal answered 1 (cancelled) or 2 (refused)
        bound,        // the shortcut is bound; presses arrive
        closed,       // the desktop closed the session
    };

    // The shortcut's identifier, stable across versions: the desktop keys the user's choice on it.
    static constexpr const char* shortcutId = "push-to-talk";

    // `busAddress` empty: the session bus.
    explicit GlobalShortcutsPortal(std::string busAddress = {});
    ~GlobalShortcutsPortal();
    GlobalShortcutsPortal(const GlobalShortcutsPortal&) = delete;
    GlobalShortcutsPortal& operator=(const GlobalShortcutsPortal&) = delete;

    // Opens the session and binds the shortcut, suggesting `preferredTrigger` (the desktop's
    // shortcut syntax, e.g. "Menu", "CTRL+SHIFT+D"; empty: none).
    void start(const std::string& preferredTrigger);
    // Binds again with another suggested trigger (the user changed the key setting): the session is
    // closed and opened anew.
    void rebind(const std::string& preferredTrigger);
    // Closes the session; a key held meanwhile is released first.
    void stop();

    State state() const;
    // The key as the desktop describes it ("Menu", "Ctrl+Alt+D"); empty until bound.
    std::string triggerDescription() const;
    bool isDown() const;

    std::function<void(State)> onStateChanged;
    // The key went down / up. A held key's repeated `Activated` is not reported again, and an
    // `Deactivated` without a press before it is ignored.
    std::function<void()> onPressed;
    std::function<void()> onReleased;

    // The trigger text the portal expects for one of our stored key codes; empty for a key the
    // desktop's shortcut syntax cannot name alone.
    static std::string triggerForKeyCode(int keyCode);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
