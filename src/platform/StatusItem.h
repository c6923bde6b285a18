// The program's item in the desktop's status area (the tray), with its symbol and menu.
#pragma once

#include "platform/Menu.h"
#include "platform/ServiceSlot.h"

#include <memory>
#include <string>

namespace platform {

class StatusItem {
public:
    virtual ~StatusItem() = default;
    // `symbol` names an icon of resources/symbols ("mic", "record.circle.fill", "hourglass").
    virtual void setSymbol(const std::string& symbol, const std::string& accessibilityDescription) = 0;
    virtual void setMenu(std::shared_ptr<Menu> menu) = 0;
    virtual const std::string& symbol() const = 0;
};

// Makes status items (the real tray in the program, a fake in tests).
class StatusBar {
public:
    virtual ~StatusBar() = default;
    virtual std::unique_ptr<StatusItem> makeStatusItem() = 0;
    // False when no tray host runs, so status items are not seen.
    virtual bool isAvailable() const = 0;

    static StatusBar& system() { return ServiceSlot<StatusBar>::get(); }
    static void setSystem(StatusBar* p) { ServiceSlot<StatusBar>::set(p); }
};

}  // namespace platform
