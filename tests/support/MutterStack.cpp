#include "support/MutterStack.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace test {

std::string MutterStack::unavailable() {
    return missing({"mutter", "Xwayland", "xdotool", "wl-copy", "wl-paste", "gdbus"},
                   {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-gnome"});
}

MutterStack::MutterStack() : WlStack("mutter", unavailable()) {
    if (ok() && variable("DISPLAY").empty()) fail("mutter started no XWayland");
}

bool MutterStack::startPortal() {
    // The backend first, on XWayland: the frontend would otherwise have the bus start it natively.
    spawn({"/usr/libexec/xdg-desktop-portal-gnome", "-r"}, {"GDK_BACKEND=x11"}, work() + "/portal-gnome.log");
    if (!waitUntil([&] { return hasBusName("org.freedesktop.impl.portal.desktop.gnome", 3); }, 15)) return false;
    spawn({"/usr/libexec/xdg-desktop-portal", "-r"}, {}, work() + "/portal.log");
    return waitUntil([&] { return hasBusName("org.freedesktop.portal.Desktop", 3); }, 15);
}

bool MutterStack::answerConsent(bool allow) {
    const auto dialog = [&] {
        std::string found;
        run({"xdotool", "search", "--onlyvisible", "--name", "^Remote desktop$"}, &found, {}, 3);
        return found.substr(0, found.find('\n'));
    };
    std::string window;
    if (!waitUntil([&] { return !(window = dialog()).empty(); }, 15)) return false;
    // Clicks go to whatever is on top at that spot: the program's own first window may open over
    // the dialog, so the dialog is raised before each click. It draws itself a moment after it maps.
    const auto click = [&](const char* x, const char* y) {
        run({"xdotool", "windowactivate", window});
        run({"xdotool", "windowraise", window});
        waitUntil([] { return false; }, 0.5);
        run({"xdotool", "mousemove", "--window", window, x, y, "click", "1"});
    };
    waitUntil([] { return false; }, 0.5);
    if (allow) click("468", "128");  // "Allow remote interaction" (Share stays greyed until it is on)
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (allow) click("493", "77");  // Share
        else click("86", "77");         // Cancel
        if (waitUntil([&] { return dialog().empty(); }, 3)) return true;
    }
    return false;
}

bool MutterStack::startField(bool onXWayland) {
    if (field_ > 0) stop(field_);
    std::error_code ec;
    for (const char* name : {"/field.txt", "/field.events"}) fs::remove(work() + name, ec);
    field_ = spawnField(onXWayland ? "x11" : "wayland");
    return fieldReady() && waitUntil([&] { return fieldEvents().find("FOCUS-IN") != std::string::npos; }, 10);
}

}  // namespace test
