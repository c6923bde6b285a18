// A menu described in plain data: the tray menu and the Dock menu are built from it and follow
// its changes (titles, check marks).
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class Menu;

class MenuItem {
public:
    std::string title;
    std::string keyEquivalent;  // "o" means Ctrl+O while the menu is open; "" none
    std::function<void()> action;
    std::string representedObject;
    bool separator = false;
    bool checked = false;
    std::shared_ptr<Menu> submenu;
};

class Menu : public QObject {
    Q_OBJECT
public:
    std::vector<std::shared_ptr<MenuItem>> items;

    std::shared_ptr<MenuItem> addItem(std::string title, std::function<void()> action, std::string keyEquivalent = {});
    void addSeparator();
    std::shared_ptr<MenuItem> addSubmenu(std::string title, std::shared_ptr<Menu> submenu);

    // Tells whoever shows the menu that titles or check marks changed.
    void changedItems() { emit changed(); }

signals:
    void changed();
};

}  // namespace platform
