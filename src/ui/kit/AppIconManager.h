// Applies the chosen application icon style: stored under "appIconStyle", set as the running
// program's icon and as the icon of its desktop entry.
#pragma once

#include "ui/kit/AppIconStyle.h"

class AppIconManager {
public:
    AppIconManager() = delete;

    // Stores the style first; then, when its image is bundled, sets it as the program's and the
    // desktop entry's icon. A missing image logs "[AppIcon] missing bundled icns for <raw>" and
    // changes nothing else.
    static void apply(AppIconStyle style);
    // The stored style; the default when nothing or an unknown value is stored.
    static AppIconStyle current();
    // Start-up: sets the icons from the stored style without storing anything.
    static void applySaved();

private:
    static bool setIcons(AppIconStyle style);
};
