#include "platform/loader/PlatformLoader.h"

#include "platform/loader/ClipboardOnlyKeySynth.h"
#include "platform/loader/SessionAccessibility.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/x11/X11Accessibility.h"
#include "platform/x11/X11ClipboardReader.h"
#include "platform/x11/X11EscSwallow.h"
#include "platform/x11/X11KeyEvents.h"
#include "platform/x11/X11KeyGrab.h"
#include "platform/x11/X11KeySynth.h"
#include "platform/wayland/DataControlPasteboard.h"
#include "platform/wayland/VirtualKeyboardKeySynth.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandGlobals.h"

#include <X11/Xlib.h>

namespace platform {

SessionProbe::Backends PlatformLoader::builtBackends() {
    SessionProbe::Backends built;
    built.dataControl = true;
    built.virtualKeyboard = true;
    // kdeFakeInput / globalShortcuts / remoteDesktop: set each once its backend is installed below.
    return built;
}

SessionProbe::Facts PlatformLoader::probeSession() {
    SessionProbe::Facts facts = SessionProbe::fromEnvironment();
    if (facts.waylandDisplay)
        if (const auto globals = WaylandGlobals::query())
            facts.globals = {globals->virtualKeyboard, globals->dataControl, globals->foreignToplevel,
                             globals->kdeFakeInput};
    // facts.portal: from the desktop portal, asked without waiting on the main thread.
    return facts;
}

PlatformLoader::PlatformLoader(_XDisplay* x11) : x11_(x11) {}

PlatformLoader::~PlatformLoader() = default;

WaylandConnection* PlatformLoader::wayland() {
    if (!wayland_) wayland_ = std::make_unique<WaylandConnection>();
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
    return choice;
}

}  // namespace platform
