#include "platform/TerminalApps.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace platform {

namespace {

// Add a terminal here by every name its windows carry (WM_CLASS instance and class, app_id).
constexpr std::string_view kTerminalNames[] = {
    "gnome-terminal", "gnome-terminal-server", "org.gnome.Terminal", "konsole", "org.kde.konsole",
    "xfce4-terminal", "mate-terminal", "lxterminal", "qterminal", "terminator", "tilix", "com.gexperts.tilix",
    "alacritty", "kitty", "wezterm", "org.wezfurlong.wezterm", "urxvt", "rxvt-unicode", "st", "st-256color",
    "foot", "footclient",
};

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool TerminalApps::contains(const std::string& name) {
    if (name.empty()) return false;
    return std::any_of(std::begin(kTerminalNames), std::end(kTerminalNames),
                       [&](std::string_view known) { return sameText(name, known); });
}

}  // namespace platform
