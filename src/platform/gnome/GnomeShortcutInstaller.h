// Our custom shortcut in GNOME's keyboard settings, as the platform's CustomShortcut service.
#pragma once

#include "platform/CustomShortcut.h"

namespace platform {

class GnomeShortcutInstaller : public CustomShortcut {
public:
    bool available() override;
    bool installed() override;
    bool install(int keyCode, const std::string& command) override;
    bool remove() override;
};

}  // namespace platform
