// Which of the Wayland globals the platform can use a compositor offers.
#pragma once

#include <optional>
#include <string_view>

namespace platform {

struct WaylandGlobals {
    bool virtualKeyboard = false;  // zwp_virtual_keyboard_manager_v1: synthetic keys
    bool dataControl = false;      // zwlr_data_control_manager_v1: the clipboard without focus
    bool foreignToplevel = false;  // zwlr_foreign_toplevel_manager_v1: the focused window's app_id
    bool kdeFakeInput = false;     // org_kde_kwin_fake_input: synthetic keys on KDE

    // Notes one global the registry announced.
    void note(std::string_view interfaceName);

    // Connects to the compositor of WAYLAND_DISPLAY, asks it once (one round trip) which globals
    // it offers, and disconnects. Nullopt when WAYLAND_DISPLAY is unset or nobody answers.
    static std::optional<WaylandGlobals> query();
};

}  // namespace platform
