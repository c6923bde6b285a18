#include "platform/SessionProbe.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace platform {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The compositors built on wlroots (or offering its protocols the same way) that bind keys to
// commands in their own configuration.
constexpr const char* kWlrootsDesktops[] = {"wlroots", "hyprland", "river", "wayfire", "labwc", "dwl", "qtile"};

}  // namespace

std::string SessionProbe::processEnvironment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

SessionProbe::Facts SessionProbe::fromEnvironment(const Environment& env) {
    Facts f;
    f.sessionType = lower(env("XDG_SESSION_TYPE"));
    f.currentDesktop = env("XDG_CURRENT_DESKTOP");
    f.display = !env("DISPLAY").empty();
    f.waylandDisplay = !env("WAYLAND_DISPLAY").empty();
    f.swaySocket = !env("SWAYSOCK").empty();
    return f;
}

bool SessionProbe::isWayland(const Facts& f) {
    // The session type decides when it is given; without it, a Wayland display says so.
    if (f.sessionType == "x11") return false;
    return f.sessionType == "wayland" || f.waylandDisplay;
}

DesktopKind SessionProbe::desktop(const Facts& f) {
    if (!isWayland(f)) return DesktopKind::x11;
    bool gnome = false, kde = false, sway = f.swaySocket, wlroots = false;
    std::string names = lower(f.currentDesktop);
    std::size_t start = 0;
    while (start <= names.size()) {
        const std::size_t end = std::min(names.find(':', start), names.size());
        const std::string name = names.substr(start, end - start);
        if (name.rfind("gnome", 0) == 0) gnome = true;
        if (name == "kde") kde = true;
        if (name == "sway") sway = true;
        for (const char* w : kWlrootsDesktops)
            if (name == w) wlroots = true;
        start = end + 1;
    }
    if (sway) return DesktopKind::sway;
    if (kde) return DesktopKind::kde;
    if (gnome) return DesktopKind::gnome;
    if (wlroots) return DesktopKind::wlroots;
    // Unnamed: the wlroots protocols without KDE's own tell a wlroots compositor.
    const auto& g = f.globals;
    if ((g.dataControl || g.foreignToplevel || g.virtualKeyboard) && !g.kdeFakeInput) return DesktopKind::wlroots;
    return DesktopKind::otherWayland;
}

SessionChoice SessionProbe::decide(const Facts& f, const Backends& b) {
    SessionChoice c;
    c.desktop = desktop(f);
    if (c.desktop == DesktopKind::x11) {
        if (!f.display) {
            c.key = KeySource::none;
            c.paste = PastePath::clipboardOnly;
        }
        return c;
    }

    // The text has to be on a clipboard that the focused native program reads: data-control
    // where the compositor offers it; else XWayland's CLIPBOARD where the compositor carries it
    // over to native programs (GNOME does, sway and KWin do not). Running natively without
    // data-control, the compositor refuses a clipboard set from the background.
    const bool dataControl = f.globals.dataControl && b.dataControl;
    c.clipboard = dataControl ? ClipboardPath::dataControl : ClipboardPath::system;
    const bool clipboardReachesPrograms = dataControl || (c.desktop == DesktopKind::gnome && f.display);

    PastePath chord = PastePath::clipboardOnly;
    if (f.globals.virtualKeyboard && b.virtualKeyboard)
        chord = PastePath::virtualKeyboard;
    else if (f.globals.kdeFakeInput && b.kdeFakeInput)
        chord = PastePath::kdeFakeInput;
    else if (f.portal.remoteDesktop >= 1 && b.remoteDesktop)
        chord = PastePath::remoteDesktop;
    c.paste = clipboardReachesPrograms ? chord : PastePath::clipboardOnly;

    if (f.portal.globalShortcuts >= 1 && f.portal.globalShortcutsSession && b.globalShortcuts)
        c.key = KeySource::desktopShortcut;
    else if (c.desktop == DesktopKind::sway || c.desktop == DesktopKind::wlroots)
        c.key = KeySource::compositorBinding;
    else
        c.key = f.display ? KeySource::xwaylandOnly : KeySource::none;
    return c;
}

std::string SessionProbe::uiPlatform(const Environment& env) {
    if (!env("QT_QPA_PLATFORM").empty()) return {};
    return env("DISPLAY").empty() ? std::string() : std::string("xcb");
}

}  // namespace platform
