// The session probe's decision table: which key source, clipboard and paste path each kind of
// session gets, and which Qt platform the UI asks for.
#include "platform/SessionProbe.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using platform::ClipboardPath;
using platform::DesktopKind;
using platform::KeySource;
using platform::PastePath;
using platform::SessionChoice;
using platform::SessionProbe;
using Facts = SessionProbe::Facts;

Facts wayland(const char* desktop, bool display) {
    Facts f;
    f.sessionType = "wayland";
    f.currentDesktop = desktop;
    f.display = display;
    f.waylandDisplay = true;
    return f;
}

Facts withWlroots(Facts f) {
    f.globals.virtualKeyboard = f.globals.dataControl = f.globals.foreignToplevel = true;
    return f;
}

SessionChoice decide(const Facts& f) { return SessionProbe::decide(f, SessionProbe::Backends::all()); }

TEST(SessionProbeTest, DecisionTable) {
    struct Row {
        const char* name;
        Facts facts;
        SessionChoice expected;
    };
    Facts x11;
    x11.display = true;
    Facts x11ButWaylandVariable = x11;  // a nested compositor's variable does not make it Wayland
    x11ButWaylandVariable.sessionType = "x11";
    x11ButWaylandVariable.waylandDisplay = true;
    Facts nothing;
    nothing.sessionType = "tty";

    Facts swayFromTty = withWlroots(wayland("", true));
    swayFromTty.sessionType = "tty";
    swayFromTty.swaySocket = true;
    Facts wlrootsNoKeyboard = wayland("Hyprland", true);
    wlrootsNoKeyboard.globals.dataControl = true;

    Facts gnome43 = wayland("GNOME", true);
    gnome43.portal.remoteDesktop = 1;
    Facts gnomeRefusedPortal = gnome43;  // exported by another desktop's backend, which refuses
    gnomeRefusedPortal.portal.globalShortcuts = 1;
    Facts gnome48 = gnomeRefusedPortal;
    gnome48.portal.globalShortcutsSession = true;
    Facts mutterBare = wayland("GNOME", true);

    Facts kde = wayland("KDE", true);
    kde.globals.dataControl = kde.globals.kdeFakeInput = true;
    kde.portal = {1, true, 1};
    Facts kdeNotAllowedFakeInput = kde;
    kdeNotAllowedFakeInput.globals.kdeFakeInput = false;

    Facts unknownNative = wayland("", false);
    Facts gnomeNative = gnome43;
    gnomeNative.display = false;

    using D = DesktopKind;
    using K = KeySource;
    using C = ClipboardPath;
    using P = PastePath;
    const Row rows[] = {
        {"x11", x11, {D::x11, K::x11, C::system, P::x11}},
        {"x11 session with a nested compositor", x11ButWaylandVariable, {D::x11, K::x11, C::system, P::x11}},
        {"no display at all", nothing, {D::x11, K::none, C::system, P::clipboardOnly}},
        {"sway", withWlroots(wayland("sway", true)), {D::sway, K::compositorBinding, C::dataControl, P::virtualKeyboard}},
        {"sway started from a tty", swayFromTty, {D::sway, K::compositorBinding, C::dataControl, P::virtualKeyboard}},
        {"sway without XWayland", withWlroots(wayland("sway", false)),
         {D::sway, K::compositorBinding, C::dataControl, P::virtualKeyboard}},
        {"unnamed wlroots compositor", withWlroots(wayland("", true)),
         {D::wlroots, K::compositorBinding, C::dataControl, P::virtualKeyboard}},
        {"wlroots without a virtual keyboard", wlrootsNoKeyboard,
         {D::wlroots, K::compositorBinding, C::dataControl, P::clipboardOnly}},
        {"GNOME 43", gnome43, {D::gnome, K::xwaylandOnly, C::system, P::remoteDesktop}},
        {"GNOME, portal exported but CreateSession refused", gnomeRefusedPortal,
         {D::gnome, K::xwaylandOnly, C::system, P::remoteDesktop}},
        {"GNOME 48", gnome48, {D::gnome, K::desktopShortcut, C::system, P::remoteDesktop}},
        {"mutter without portals", mutterBare, {D::gnome, K::xwaylandOnly, C::system, P::clipboardOnly}},
        {"GNOME without DISPLAY", gnomeNative, {D::gnome, K::none, C::system, P::clipboardOnly}},
        {"KDE", kde, {D::kde, K::desktopShortcut, C::dataControl, P::kdeFakeInput}},
        {"KDE, fake input not granted", kdeNotAllowedFakeInput, {D::kde, K::desktopShortcut, C::dataControl, P::remoteDesktop}},
        {"unknown compositor, no DISPLAY", unknownNative, {D::otherWayland, K::none, C::system, P::clipboardOnly}},
    };
    for (const Row& row : rows) {
        const SessionChoice got = decide(row.facts);
        EXPECT_EQ(got.desktop, row.expected.desktop) << row.name;
        EXPECT_EQ(got.key, row.expected.key) << row.name;
        EXPECT_EQ(got.clipboard, row.expected.clipboard) << row.name;
        EXPECT_EQ(got.paste, row.expected.paste) << row.name;
    }
}

TEST(SessionProbeTest, AMechanismWithoutABackendFallsBackToTheNextThatWorks) {
    Facts sway = withWlroots(wayland("sway", true));
    SessionProbe::Backends onlyKeyboard;
    onlyKeyboard.virtualKeyboard = true;
    // The chord alone is no use while the text cannot reach sway's native programs.
    SessionChoice c = SessionProbe::decide(sway, onlyKeyboard);
    EXPECT_EQ(c.clipboard, ClipboardPath::system);
    EXPECT_EQ(c.paste, PastePath::clipboardOnly);
    EXPECT_EQ(c.key, KeySource::compositorBinding);  // the binding needs no backend

    Facts gnome48 = wayland("ubuntu:GNOME", true);
    gnome48.portal = {1, true, 1};
    c = SessionProbe::decide(gnome48, SessionProbe::Backends{});
    EXPECT_EQ(c.key, KeySource::xwaylandOnly);
    EXPECT_EQ(c.paste, PastePath::clipboardOnly);
    EXPECT_EQ(c.pasteStatus(), "Paste: clipboard only");
}

TEST(SessionProbeTest, ReadsTheEnvironmentAndKeepsTheUiOnXWayland) {
    std::map<std::string, std::string> env = {{"XDG_SESSION_TYPE", "Wayland"},
                                              {"XDG_CURRENT_DESKTOP", "sway"},
                                              {"WAYLAND_DISPLAY", "wayland-1"},
                                              {"DISPLAY", ":0"}};
    auto get = [&env](const char* name) {
        auto it = env.find(name);
        return it == env.end() ? std::string() : it->second;
    };
    const Facts f = SessionProbe::fromEnvironment(get);
    EXPECT_EQ(f.sessionType, "wayland");
    EXPECT_TRUE(f.display && f.waylandDisplay);
    EXPECT_EQ(SessionProbe::desktop(f), DesktopKind::sway);

    EXPECT_EQ(SessionProbe::uiPlatform(get), "xcb");
    env["QT_QPA_PLATFORM"] = "wayland";  // the user's own choice stands
    EXPECT_EQ(SessionProbe::uiPlatform(get), "");
    env.erase("QT_QPA_PLATFORM");
    env.erase("DISPLAY");  // no XWayland: native
    EXPECT_EQ(SessionProbe::uiPlatform(get), "");
}

}  // namespace
