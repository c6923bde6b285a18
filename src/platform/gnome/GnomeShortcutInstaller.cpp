#include "platform/gnome/GnomeShortcutInstaller.h"

#include "platform/gnome/GnomeCustomShortcut.h"

namespace platform {

bool GnomeShortcutInstaller::available() { return GnomeCustomShortcut::available(); }

bool GnomeShortcutInstaller::installed() { return GnomeCustomShortcut::available() && GnomeCustomShortcut::present(); }

bool GnomeShortcutInstaller::install(int keyCode, const std::string& command) {
    const std::string binding = GnomeCustomShortcut::bindingForKeyCode(keyCode);
    return !binding.empty() && GnomeCustomShortcut::add(binding, command);
}

bool GnomeShortcutInstaller::remove() { return !GnomeCustomShortcut::available() || GnomeCustomShortcut::remove(); }

}  // namespace platform
