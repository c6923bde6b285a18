#include "platform/Menu.h"

namespace platform {

std::shared_ptr<MenuItem> Menu::addItem(std::string title, std::function<void()> action, std::string keyEquivalent) {
    auto item = std::make_shared<MenuItem>();
    item->title = std::move(title);
    item->action = std::move(action);
    item->keyEquivalent = std::move(keyEquivalent);
    items.push_back(item);
    return item;
}

void Menu::addSeparator() {
    auto item = std::make_shared<MenuItem>();
    item->separator = true;
    items.push_back(item);
}

std::shared_ptr<MenuItem> Menu::addSubmenu(std::string title, std::shared_ptr<Menu> submenu) {
    auto item = std::make_shared<MenuItem>();
    item->title = std::move(title);
    item->submenu = std::move(submenu);
    items.push_back(item);
    return item;
}

}  // namespace platform
