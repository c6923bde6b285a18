// The kit's colours as the whole application's palette, so that what the program does not draw
// itself (scroll bars, drop-down lists, menus, message boxes, Qt's own file dialog, tool tips)
// is as dark as the rest, in every state (active, inactive, disabled).
#pragma once

#include <QPalette>

class KestalTheme {
public:
    KestalTheme() = delete;

    static QPalette palette();
    // Makes it the application's palette (over the style the platform layer forces).
    static void apply();
};
