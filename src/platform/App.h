// The running application as the desktop sees it.
#pragma once

#include "platform/ServiceSlot.h"

#include <string>

namespace platform {

class App {
public:
    virtual ~App() = default;

    // Regular: windows appear in the taskbar; accessory: they stay out of it.
    virtual void setRegular(bool regular) = 0;
    virtual bool isRegular() const = 0;
    // Forces the dark look on every window.
    virtual void setDarkAppearance() = 0;
    // Sets the running program's window and tray icon from an image file; false if it does not load.
    virtual bool setIconImage(const std::string& path) = 0;
    // A modal message box with a single button.
    virtual void showAlert(const std::string& message, const std::string& informative, const std::string& button) = 0;
    // Ends the run loop with status 0.
    virtual void terminate() = 0;
    // True while any of the program's windows is shown (taskbar or not; the recording panel aside).
    virtual bool hasVisibleWindows() const = 0;
    // Raises the shown windows and activates the one the user last worked in.
    virtual void bringVisibleWindowsForward() = 0;

    static App& shared() { return ServiceSlot<App>::get(); }
    static void setShared(App* p) { ServiceSlot<App>::set(p); }
};

}  // namespace platform
