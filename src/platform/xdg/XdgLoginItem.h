// Start at login through an XDG autostart entry ($XDG_CONFIG_HOME/autostart/tovrin.desktop).
#pragma once

#include "platform/LoginItem.h"

#include <string>

namespace platform {

class XdgLoginItem : public LoginItem {
public:
    bool registerItem() override;
    bool unregisterItem() override;
    bool isEnabled() const override;

    static std::string entryPath();
};

}  // namespace platform
