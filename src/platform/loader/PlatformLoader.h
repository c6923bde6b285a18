// Picks, at start-up, the backend of each interface whose mechanism depends on the desktop
// session (key events and grabs, the paste chord, the clipboard, the trust check) from the
// session probe's choice, installs it, and keeps it for the program's life. Where no mechanism
// works, the fallback is installed: no key events, and a paste that leaves the text on the
// clipboard.
#pragma once

#include "platform/ControlLine.h"
#include "platform/Scheduler.h"
#include "platform/SessionChoice.h"
#include "platform/SessionProbe.h"

#include <functional>
#include <memory>
#include <string>

#include <QObject>

struct _XDisplay;

namespace platform {

class Accessibility;
class CustomShortcut;
class EvdevKeyEvents;
class GlobalShortcutsPortal;
class LogindSession;
class RemoteDesktopPortal;
class EscSwallow;
class KeyEvents;
class KeyGrab;
class KeySynth;
class Pasteboard;
class PastePermission;
class WaylandConnection;

class PlatformLoader {
public:
    // The mechanisms this build has a backend for. A new backend sets its flag here and gets its
    // case in install().
    static SessionProbe::Backends builtBackends();
    // What can be learnt of the session: its environment (the Wayland globals and the portal's
    // answers are added where a reader for them is built).
    static SessionProbe::Facts probeSession();

    // `x11`: the application's own X connection, nullptr without an X display.
    explicit PlatformLoader(_XDisplay* x11);
    ~PlatformLoader();
    PlatformLoader(const PlatformLoader&) = delete;
    PlatformLoader& operator=(const PlatformLoader&) = delete;

    // Installs the backends of `choice` as the shared services and returns what was installed:
    // a mechanism without a backend here falls back to what always works.
    SessionChoice install(SessionChoice choice);

    // In a Wayland session, asks the desktop's portals for what the session did not offer at
    // once: the push-to-talk key through the GlobalShortcuts portal (its presses and releases go
    // to `keyCommand`), the paste chord through the RemoteDesktop portal. Each answer comes later
    // and updates SessionChoice::current(); nothing here waits. `grantJustWritten`: the desktop
    // entry was rewritten at this start (KDE's fake input is asked for once more before the
    // RemoteDesktop portal). The push-to-talk key follows the key setting ("wendaro.pttKeyChanged").
    void startDesktopServices(std::function<void(ControlCommand)> keyCommand, bool grantJustWritten = false);

    // How long KWin may take to read a desktop entry written just now.
    static constexpr double kGrantRetryDelay = 2.0;

private:
    void startRemoteDesktop(DesktopKind desktop);

    _XDisplay* x11_;
    // Opened when a Wayland backend is installed; outlives them.
    std::unique_ptr<WaylandConnection> wayland_;
    WaylandConnection* wayland();
    std::unique_ptr<KeyEvents> keyEvents_;
    std::unique_ptr<EscSwallow> escSwallow_;
    std::unique_ptr<KeyGrab> keyGrab_;
    std::unique_ptr<KeySynth> keySynth_;
    std::unique_ptr<Pasteboard> pasteboard_;
    std::unique_ptr<Accessibility> accessibility_;
    std::unique_ptr<LogindSession> logind_;
    std::unique_ptr<EvdevKeyEvents> inputDevices_;
    std::unique_ptr<GlobalShortcutsPortal> shortcuts_;
    bool shortcutBound_ = false;
    std::string suggestedTrigger_;
    std::unique_ptr<QObject> settingsWatch_;
    // A connection of its own for fake input granted after start-up (KWin grants per connection).
    std::unique_ptr<WaylandConnection> fakeInputConnection_;
    TimerHandle grantRetry_;
    RemoteDesktopPortal* remoteDesktop_ = nullptr;  // the installed key synth, when it is that
    std::unique_ptr<PastePermission> pastePermission_;  // over remoteDesktop_, on GNOME
    std::unique_ptr<CustomShortcut> customShortcut_;    // on GNOME
};

}  // namespace platform
