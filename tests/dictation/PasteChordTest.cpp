// Which windows get the terminal paste chord: decided by WM_CLASS, whose two names terminals
// spell differently (instance and class, any case, names that differ from the program's).
#include "platform/x11/X11KeySynth.h"

#include <gtest/gtest.h>

namespace {

using platform::X11KeySynth;

TEST(PasteChordTest, TerminalsAreKnownByEitherNameInAnyCaseAndOthersKeepControlV) {
    // As the terminals name their windows.
    EXPECT_TRUE(X11KeySynth::isTerminal("gnome-terminal-server", "Gnome-terminal"));
    EXPECT_TRUE(X11KeySynth::isTerminal("xfce4-terminal", "Xfce4-terminal"));
    EXPECT_TRUE(X11KeySynth::isTerminal("lxterminal", "Lxterminal"));
    EXPECT_TRUE(X11KeySynth::isTerminal("Alacritty", "Alacritty"));
    EXPECT_TRUE(X11KeySynth::isTerminal("urxvt", "URxvt"));
    EXPECT_TRUE(X11KeySynth::isTerminal("st-256color", "st-256color"));
    EXPECT_TRUE(X11KeySynth::isTerminal("org.wezfurlong.wezterm", "org.wezfurlong.wezterm"));
    EXPECT_TRUE(X11KeySynth::isTerminal("", "konsole"));
    // Names that merely begin like a terminal's, and programs whose paste is Control+V.
    EXPECT_FALSE(X11KeySynth::isTerminal("steam", "Steam"));
    EXPECT_FALSE(X11KeySynth::isTerminal("stalonetray", "stalonetray"));
    EXPECT_FALSE(X11KeySynth::isTerminal("kittyplayer", "Kittyplayer"));
    EXPECT_FALSE(X11KeySynth::isTerminal("Navigator", "firefox"));
    EXPECT_FALSE(X11KeySynth::isTerminal("gedit", "Gedit"));
    EXPECT_FALSE(X11KeySynth::isTerminal("", ""));
}

}  // namespace
