// Decides, from what the desktop session offers, which mechanism serves each job (SessionChoice).
// Pure logic: the facts come in as plain values (the environment, the Wayland globals seen in one
// registry round trip, what the desktop portal answered), and so do the backends this build has.
// The first mechanism that the session offers and the build has wins; nothing is assumed from a
// desktop's name alone where the session can be asked.
#pragma once

#include "platform/SessionChoice.h"

#include <functional>
#include <string>

namespace platform {

class SessionProbe {
public:
    struct Facts {
        std::string sessionType;     // XDG_SESSION_TYPE
        std::string currentDesktop;  // XDG_CURRENT_DESKTOP (names separated by ':')
        bool display = false;        // DISPLAY is set: an X server, or XWayland, to talk to
        bool waylandDisplay = false; // WAYLAND_DISPLAY is set
        bool swaySocket = false;     // SWAYSOCK is set: sway runs this session

        // The Wayland globals the compositor offers.
        struct Globals {
            bool virtualKeyboard = false;  // zwp_virtual_keyboard_manager_v1
            bool dataControl = false;      // zwlr_data_control_manager_v1
            bool foreignToplevel = false;  // zwlr_foreign_toplevel_manager_v1
            bool kdeFakeInput = false;     // org_kde_kwin_fake_input
        } globals;

        // The desktop portal: interface versions (0 when not offered), and whether GlobalShortcuts'
        // CreateSession answered 0. An interface can be exported by a backend that then refuses.
        struct Portal {
            int globalShortcuts = 0;
            bool globalShortcutsSession = false;
            int remoteDesktop = 0;
        } portal;
    };

    // The mechanisms this build has a backend for (X11 and compositor bindings are always there).
    struct Backends {
        bool globalShortcuts = false;
        bool dataControl = false;
        bool virtualKeyboard = false;
        bool kdeFakeInput = false;
        bool remoteDesktop = false;
        static Backends all() { return {true, true, true, true, true}; }
    };

    using Environment = std::function<std::string(const char* name)>;
    // The process environment.
    static std::string processEnvironment(const char* name);

    // The session's variables; the globals and the portal are left for the caller to fill in.
    static Facts fromEnvironment(const Environment& env = processEnvironment);

    static bool isWayland(const Facts& facts);
    static DesktopKind desktop(const Facts& facts);
    static SessionChoice decide(const Facts& facts, const Backends& backends);

    // The Qt platform plugin to ask for before the application object is built: "xcb" whenever
    // there is an X display (XWayland under a Wayland compositor included) and the user did not
    // choose one in QT_QPA_PLATFORM; empty to leave the choice to Qt.
    static std::string uiPlatform(const Environment& env = processEnvironment);
};

}  // namespace platform
