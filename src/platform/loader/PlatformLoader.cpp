#include "platform/loader/PlatformLoader.h"

#include "platform/loader/ClipboardOnlyKeySynth.h"
#include "platform/loader/PortalPastePermission.h"
#include "platform/loader/SessionAccessibility.h"
#include "platform/Defaults.h"
#include "platform/DesktopEntry.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/evdev/EvdevKeyEvents.h"
#include "platform/gnome/GnomeShortcutInstaller.h"
#include "platform/portal/GlobalShortcutsPortal.h"
#include "platform/portal/RemoteDesktopPortal.h"
#include "platform/xdg/LogindSession.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/x11/X11Accessibility.h"
#include "platform/x11/X11ClipboardReader.h"
#include "platform/x11/X11EscSwallow.h"
#include "platform/x11/X11KeyEvents.h"
#include "platform/x11/X11KeyGrab.h"
#include "platform/x11/X11KeySynth.h"
#include "platform/wayland/DataControlPasteboard.h"
#include "platform/wayland/KdeFakeInputKeySynth.h"
#include "platform/wayland/VirtualKeyboardKeySynth.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandGlobals.h"

#include <X11/Xlib.h>

namespace platform {

SessionProbe::Backends PlatformLoader::builtBackends() {
    SessionProbe::Backends built;
    built.dataControl = true;
    built.virtualKeyboard = true;
    built.kdeFakeInput = true;
    // The portals answer after start-up (startDesktopServices).
    return built;
}

SessionProbe::Facts PlatformLoader::probeSession() {
    SessionProbe::Facts facts = SessionProbe::fromEnvironment();
    if (facts.waylandDisplay) {
        if (const auto globals = WaylandGlobals::query())
            facts.globals = {globals->virtualKeyboard, globals->dataControl, globals->foreignToplevel,
                             globals->kdeFakeInput};
        else
            qCWarning(logPlatform) << "the Wayland compositor did not list its interfaces in time";
    }
    // facts.portal: from the desktop portal, asked without waiting on the main thread.
    return facts;
}

PlatformLoader::PlatformLoader(_XDisplay* x11) : x11_(x11) {}

PlatformLoader::~PlatformLoader() {
    grantRetry_.cancel();
    if (pastePermission_ && PastePermission::isInstalled() && &PastePermission::shared() == pastePermission_.get())
        PastePermission::setShared(nullptr);
    if (customShortcut_ && CustomShortcut::isInstalled() && &CustomShortcut::shared() == customShortcut_.get())
        CustomShortcut::setShared(nullptr);
}

WaylandConnection* PlatformLoader::wayland() {
    if (!wayland_) {
        wayland_ = std::make_unique<WaylandConnection>();
        if (!wayland_->ok()) qCWarning(logPlatform) << "the Wayland compositor did not answer in time";
    }
    return wayland_->ok() ? wayland_.get() : nullptr;
}

SessionChoice PlatformLoader::install(SessionChoice choice) {
    const bool x11Session = choice.desktop == DesktopKind::x11;

    // Keys: XInput2 wherever there is an X display. In a Wayland session it still serves our own
    // windows and the X11 programs under XWayland, beside the desktop's own way (compositor
    // bindings reach us through the command line, with no backend of ours).
    if (x11_ || x11Session) {
        keyEvents_ = std::make_unique<X11KeyEvents>();
        escSwallow_ = std::make_unique<X11EscSwallow>();
        keyGrab_ = std::make_unique<X11KeyGrab>();
        KeyEvents::setShared(keyEvents_.get());
        EscSwallow::setShared(escSwallow_.get());
        KeyGrab::setShared(keyGrab_.get());
    } else if (choice.key == KeySource::x11 || choice.key == KeySource::xwaylandOnly) {
        choice.key = KeySource::none;
    }

    // In a Wayland session without a key source of the desktop's, the kernel's input devices show
    // the key whatever program has the focus, where the user may read them (group "input").
    if (!x11Session && !choice.keyWorksEverywhere()) {
        logind_ = std::make_unique<LogindSession>();
        logind_->start();
        inputDevices_ = std::make_unique<EvdevKeyEvents>();
        // Once the desktop's shortcut serves, the devices would report the key a second time.
        inputDevices_->sessionActive = [this] { return logind_->active() && !shortcutBound_; };
        if (inputDevices_->start()) {
            KeyEvents::setShared(inputDevices_.get());
            choice.key = KeySource::inputDevices;
        }
    }

    // The clipboard.
    switch (choice.clipboard) {
    case ClipboardPath::dataControl:
        if (WaylandConnection* connection = wayland()) {
            auto dataControl = std::make_unique<DataControlPasteboard>(*connection);
            if (dataControl->ok()) {
                pasteboard_ = std::move(dataControl);
                break;
            }
        }
        [[fallthrough]];
    case ClipboardPath::system: {
        choice.clipboard = ClipboardPath::system;
        QtPasteboard::ForeignReader clipboardReader;
        if (x11_) {
            // Another program's clipboard is read on a connection of its own, within 0.3 s in all.
            X11ClipboardReader::prepare();
            clipboardReader = [name = std::string(DisplayString(x11_))] { return X11ClipboardReader::read(name, 0.3); };
        }
        pasteboard_ = std::make_unique<QtPasteboard>(std::move(clipboardReader));
        break;
    }
    }
    Pasteboard::setGeneral(pasteboard_.get());

    // The paste chord.
    switch (choice.paste) {
    case PastePath::x11:
        if (x11_) {
            keySynth_ = std::make_unique<X11KeySynth>(x11_);
            break;
        }
        [[fallthrough]];
    case PastePath::virtualKeyboard:
        if (WaylandConnection* connection = wayland(); connection && choice.clipboard == ClipboardPath::dataControl) {
            auto keys = std::make_unique<VirtualKeyboardKeySynth>(*connection);
            if (keys->ok()) {
                keySynth_ = std::move(keys);
                break;
            }
        }
        [[fallthrough]];
    case PastePath::kdeFakeInput:
        if (WaylandConnection* connection = wayland(); connection && choice.clipboard == ClipboardPath::dataControl) {
            auto keys = std::make_unique<KdeFakeInputKeySynth>(*connection);
            if (keys->ok()) {
                choice.paste = PastePath::kdeFakeInput;
                keySynth_ = std::move(keys);
                break;
            }
        }
        [[fallthrough]];
    case PastePath::remoteDesktop:
    case PastePath::clipboardOnly:
        choice.paste = PastePath::clipboardOnly;
        keySynth_ = std::make_unique<ClipboardOnlyKeySynth>();
        break;
    }
    KeySynth::setShared(keySynth_.get());

    if (x11Session)
        accessibility_ = std::make_unique<X11Accessibility>();
    else
        accessibility_ = std::make_unique<SessionAccessibility>();
    Accessibility::setShared(accessibility_.get());

    // A shortcut of ours in GNOME's keyboard settings, which the Shortcuts page offers where no key
    // reaches us otherwise.
    if (choice.desktop == DesktopKind::gnome) {
        customShortcut_ = std::make_unique<GnomeShortcutInstaller>();
        if (customShortcut_->available()) CustomShortcut::setShared(customShortcut_.get());
    }
    return choice;
}

namespace {

// The trigger to suggest to the desktop for the stored push-to-talk key. KDE cannot bind a lone
// modifier (Plasma 5.27 stores a name such as "Control_R" as a garbled key), and there a changed
// suggestion under the same session clears the binding instead of moving it: every key setting
// is suggested there as Menu, and the user picks another key in System Settings if they like.
std::string preferredTrigger(DesktopKind desktop) {
    if (desktop == DesktopKind::kde) return GlobalShortcutsPortal::triggerForKeyCode(KeyCode::function);
    const std::int64_t keyCode =
        Defaults::shared().object("pttKeyCode") ? Defaults::shared().integer("pttKeyCode") : KeyCode::function;
    return GlobalShortcutsPortal::triggerForKeyCode(static_cast<int>(keyCode));
}

}  // namespace

void PlatformLoader::startDesktopServices(std::function<void(ControlCommand)> keyCommand, bool grantJustWritten) {
    const SessionChoice start = SessionChoice::current();
    if (start.desktop == DesktopKind::x11) return;

    if (start.key != KeySource::compositorBinding) {
        shortcuts_ = std::make_unique<GlobalShortcutsPortal>();
        shortcuts_->onPressed = [keyCommand] { keyCommand(ControlCommand::pttDown); };
        shortcuts_->onReleased = [keyCommand] { keyCommand(ControlCommand::pttUp); };
        shortcuts_->onStateChanged = [this, fallback = start.key](GlobalShortcutsPortal::State state) {
            if (state == GlobalShortcutsPortal::State::refused || state == GlobalShortcutsPortal::State::unavailable)
                qCInfo(logPlatform) << "the desktop's GlobalShortcuts portal"
                                    << (state == GlobalShortcutsPortal::State::refused ? "refused" : "is not there")
                                    << "; the key comes from the other sources";
            SessionChoice now = SessionChoice::current();
            shortcutBound_ = state == GlobalShortcutsPortal::State::bound;
            if (shortcutBound_)
                now.key = KeySource::desktopShortcut;
            else if (now.key == KeySource::desktopShortcut)
                now.key = fallback;
            now.keyTrigger = shortcutBound_ ? shortcuts_->triggerDescription() : std::string();
            SessionChoice::setCurrent(now);
        };
        suggestedTrigger_ = preferredTrigger(start.desktop);
        shortcuts_->start(suggestedTrigger_);
        // A new key setting is suggested to the desktop at once: the session is opened anew with it
        // (under the same token, so the desktop's record of our shortcut is the one updated).
        settingsWatch_ = std::make_unique<QObject>();
        QObject::connect(&NotificationCenter::shared(), &NotificationCenter::posted, settingsWatch_.get(),
                         [this, desktop = start.desktop](const std::string& name) {
                             if (name != "wendaro.pttKeyChanged") return;
                             const std::string trigger = preferredTrigger(desktop);
                             if (trigger == suggestedTrigger_) return;
                             suggestedTrigger_ = trigger;
                             shortcuts_->rebind(trigger);
                         });
    }

    // GNOME and KDE send keys for a program only through the RemoteDesktop portal; the desktop asks
    // the user once (at each start before portal version 2). On KDE, KWin's fake input needs no
    // question: when the desktop entry that grants it was only just written, KWin may not have
    // read it yet when we asked, so it is asked for once more, a little later, before the portal.
    if (start.paste != PastePath::clipboardOnly) return;
    // KWin does not carry XWayland's clipboard over to native programs: without data-control a
    // chord would paste whatever the clipboard held before.
    if (start.desktop == DesktopKind::kde && start.clipboard != ClipboardPath::dataControl) {
        qCWarning(logPlatform) << "no data-control clipboard: the text is left on the clipboard";
        return;
    }
    if (start.desktop == DesktopKind::kde && grantJustWritten) {
        grantRetry_ = MainQueue::after(kGrantRetryDelay, [this] {
            auto connection = std::make_unique<WaylandConnection>();
            auto keys = std::make_unique<KdeFakeInputKeySynth>(*connection);
            if (!keys->ok()) {
                qCWarning(logPlatform) << "KWin offers no fake input to this program; asking the RemoteDesktop portal";
                return startRemoteDesktop(DesktopKind::kde);
            }
            fakeInputConnection_ = std::move(connection);
            keySynth_ = std::move(keys);
            KeySynth::setShared(keySynth_.get());
            SessionChoice now = SessionChoice::current();
            now.paste = PastePath::kdeFakeInput;
            SessionChoice::setCurrent(now);
        });
        return;
    }
    if (start.desktop == DesktopKind::kde)
        qCWarning(logPlatform) << "KWin offers no fake input to this program (is its desktop entry"
                               << QString::fromStdString(DesktopEntry::path())
                               << "stale?); asking the RemoteDesktop portal";
    if (start.desktop == DesktopKind::gnome || start.desktop == DesktopKind::kde) startRemoteDesktop(start.desktop);
}

void PlatformLoader::startRemoteDesktop(DesktopKind desktop) {
    auto portal = std::make_unique<RemoteDesktopPortal>();
    auto storedToken = [] { return Defaults::shared().string("remoteDesktopRestoreToken").value_or(""); };
    remoteDesktop_ = portal.get();
    portal->onRestoreToken = [](const std::string& token) {
        Defaults::shared().setString("remoteDesktopRestoreToken", token);
    };
    // Wayland tells no program which window has the focus; an XWayland window it does tell,
    // and an X11 terminal takes Control+Shift+V as on X11.
    if (x11_) portal->focusedIsTerminal = [x11 = x11_] { return X11KeySynth(x11).targetIsTerminal(); };
    portal->onStateChanged = [](RemoteDesktopPortal::State state) {
        if (state == RemoteDesktopPortal::State::granted) Defaults::shared().setBool("remoteDesktopGranted", true);
        SessionChoice now = SessionChoice::current();
        now.paste = state == RemoteDesktopPortal::State::granted ? PastePath::remoteDesktop : PastePath::clipboardOnly;
        SessionChoice::setCurrent(now);
    };
    // Until the user grants it, its paste sends nothing and says so, as the fallback did.
    keySynth_ = std::move(portal);
    KeySynth::setShared(keySynth_.get());
    // The Shortcuts page and the first-run window show the grant and can ask again.
    if (desktop == DesktopKind::gnome) {
        pastePermission_ = std::make_unique<PortalPastePermission>(*remoteDesktop_, storedToken);
        PastePermission::setShared(pastePermission_.get());
    }
    // On GNOME the dialog waits until the user has read why it comes (the first-run window, the
    // Shortcuts page or the first paste ask for it); once granted, each start asks again at once.
    const bool grantedBefore = !storedToken().empty() || Defaults::shared().boolean("remoteDesktopGranted");
    if (desktop != DesktopKind::gnome || grantedBefore) remoteDesktop_->start(storedToken());
}

}  // namespace platform
