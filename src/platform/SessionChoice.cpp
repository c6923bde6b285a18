#include "platform/SessionChoice.h"

#include <mutex>

namespace platform {

namespace {
std::mutex g_mutex;
SessionChoice g_current;
}  // namespace

std::string SessionChoice::keyStatus() const {
    switch (key) {
    case KeySource::x11: return "Key: X11";
    case KeySource::desktopShortcut:
        return keyTrigger.empty() ? "Key: desktop shortcut" : "Key: desktop shortcut (" + keyTrigger + ")";
    case KeySource::compositorBinding: return "Key: compositor binding";
    case KeySource::xwaylandOnly: return "Key: X11 programs only";
    case KeySource::inputDevices: return "Key: input devices";
    case KeySource::none: break;
    }
    return "Key: none";
}

std::string SessionChoice::pasteStatus() const {
    switch (paste) {
    case PastePath::x11: return "Paste: X11";
    case PastePath::virtualKeyboard: return "Paste: virtual keyboard";
    case PastePath::kdeFakeInput: return "Paste: KDE fake input";
    case PastePath::remoteDesktop: return "Paste: remote desktop portal";
    case PastePath::clipboardOnly: break;
    }
    return "Paste: clipboard only";
}

SessionChoice SessionChoice::current() {
    std::lock_guard lock(g_mutex);
    return g_current;
}

void SessionChoice::setCurrent(const SessionChoice& choice) {
    std::lock_guard lock(g_mutex);
    g_current = choice;
}

}  // namespace platform
